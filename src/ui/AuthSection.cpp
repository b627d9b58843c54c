#include "ui/AuthSection.h"

#include "app/AppLogger.h"
#include "core/StrictUtf8.h"
#include "net/AuthClient.h"
#include "net/DiagnosticsUploader.h"
#include "store/TokenStore.h"
#include "ui/AccountDeletionMail.h"
#include "ui/OverlaySpinner.h"
#include "ui/StatusGlyph.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

namespace {

// Every colour of the section, from the widget's palette: the one place to point at a shared theme.
struct AuthSectionColors {
    QColor secondaryText;
    QColor error;
    QColor signInBackground;
    QColor signInText;
    QColor signInBorder;

    static AuthSectionColors of(const QPalette &palette)
    {
        const bool dark = palette.color(QPalette::Window).lightness() < 128;
        return {
            .secondaryText = palette.color(QPalette::PlaceholderText),
            .error = dark ? QColor(0xFF, 0x6B, 0x62) : QColor(0xC6, 0x28, 0x28),
            // The Apple sign-in button's black style; on a dark window it gets a light rim.
            .signInBackground = Qt::black,
            .signInText = Qt::white,
            .signInBorder = dark ? QColor(0x8E, 0x8E, 0x93) : QColor(Qt::black),
        };
    }
};

const QColor spinnerColor(0x8E, 0x8E, 0x93); // readable on light and dark windows
constexpr int spinnerSize = 16;

QString unreadableTokenMessage()
{
    return QStringLiteral("无法读取 Apple identityToken");
}

// A pasted identity token, when it reads as one: trimmed, not empty, valid Unicode (no unpaired
// surrogate) and free of U+FFFD, the mark a lossy decoding leaves where the bytes were not UTF-8.
std::optional<QString> identityTokenFromText(const QString &text)
{
    const QString token = text.trimmed();
    if (token.isEmpty() || token.contains(QChar::ReplacementCharacter))
        return std::nullopt;
    if (StrictUtf8::decode(token.toUtf8()) != token)
        return std::nullopt;
    return token;
}

// The clipboard's text as the bytes its owner offers, not as the toolkit's repaired reading of them.
std::optional<QString> identityTokenFromClipboard()
{
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!mime)
        return std::nullopt;
    QByteArray bytes;
    for (const QString &format : {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("text/plain")}) {
        if (mime->hasFormat(format)) {
            bytes = mime->data(format);
            break;
        }
    }
    const std::optional<QString> text = StrictUtf8::decode(bytes);
    return text ? identityTokenFromText(*text) : std::nullopt;
}

QString failureText(const TokenFailure &failure)
{
    if (const auto *auth = std::get_if<AuthError>(&failure))
        return auth->localizedDescription();
    return std::get<PlatformError>(failure).localizedDescription;
}

QString failureLogText(const TokenFailure &failure)
{
    if (const auto *auth = std::get_if<AuthError>(&failure))
        return auth->describe();
    return std::get<PlatformError>(failure).describe();
}

QLabel *captionLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    return label;
}

QWidget *progressRow(const QString &text, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *spinner = new OverlaySpinner(spinnerColor, row);
    spinner->setFixedSize(spinnerSize, spinnerSize);
    layout->addWidget(spinner);
    layout->addWidget(new QLabel(text, row));
    layout->addStretch();
    return row;
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

} // namespace

AuthSection::AuthSection(Services services, QWidget *parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    if (!m_services.openUrl)
        m_services.openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_signedOutView = buildSignedOutView();
    m_signedInView = buildSignedInView();
    layout->addWidget(m_signedOutView);
    layout->addWidget(m_signedInView);

    // Signed in exactly when a non-empty access token is stored.
    m_isSignedIn = !TokenStore::accessToken().value_or(QString()).isEmpty();
    m_signedOutView->setVisible(!m_isSignedIn);
    m_signedInView->setVisible(m_isSignedIn);
    setInProgress(false);
    setUploadInProgress(false);
    setErrorMessage(std::nullopt);
    applyColors();
}

AuthSection::~AuthSection() = default;

QWidget *AuthSection::buildSignedOutView()
{
    auto *view = new QWidget(this);
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *title = new QLabel(QStringLiteral("使用 Apple ID 登录"), view);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);

    m_signInControls = new QWidget(view);
    auto *controls = new QHBoxLayout(m_signInControls);
    controls->setContentsMargins(0, 0, 0, 0);
    m_tokenField = new QLineEdit(m_signInControls);
    m_tokenField->setPlaceholderText(QStringLiteral("粘贴 Apple identityToken"));
    m_tokenField->setEchoMode(QLineEdit::Password);
    m_tokenField->setMinimumWidth(220);
    m_pasteButton = new QPushButton(QStringLiteral("粘贴"), m_signInControls);
    m_signInButton = new QPushButton(QStringLiteral("登录"), m_signInControls);
    m_signInButton->setMinimumWidth(96);
    m_signInButton->setDefault(true);
    controls->addWidget(m_tokenField, 1);
    controls->addWidget(m_pasteButton);
    controls->addWidget(m_signInButton);
    layout->addWidget(m_signInControls);

    m_signInProgress = progressRow(QStringLiteral("登录中…"), view);
    layout->addWidget(m_signInProgress);

    m_signInCaption = captionLabel(QStringLiteral("登录后热词会跨 Mac/iPhone 自动同步(anchor #33)。"), view);
    layout->addWidget(m_signInCaption);
    m_errorLabel = captionLabel(QString(), view);
    m_errorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_errorLabel);

    connect(m_pasteButton, &QPushButton::clicked, this, &AuthSection::pasteFromClipboard);
    connect(m_signInButton, &QPushButton::clicked, this, &AuthSection::signIn);
    connect(m_tokenField, &QLineEdit::returnPressed, this, &AuthSection::signIn);
    return view;
}

QWidget *AuthSection::buildSignedInView()
{
    auto *view = new QWidget(this);
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *status = new QHBoxLayout;
    auto *check = new StatusGlyph(StatusGlyph::Kind::check, view);
    check->setFixedSize(spinnerSize, spinnerSize);
    status->addWidget(check);
    status->addWidget(new QLabel(QStringLiteral("已通过 Apple ID 登录"), view));
    status->addStretch();
    layout->addLayout(status);
    m_signedInCaption = captionLabel(QStringLiteral("账户邮箱显示等后端 /me endpoint 上线后再补(murlex-server#40)。"), view);
    layout->addWidget(m_signedInCaption);

    m_signOutButton = new QPushButton(QStringLiteral("退出登录"), view);
    auto *signOutRow = new QHBoxLayout;
    signOutRow->addWidget(m_signOutButton);
    signOutRow->addStretch();
    layout->addLayout(signOutRow);

    auto *uploadRow = new QHBoxLayout;
    uploadRow->addWidget(new QLabel(QStringLiteral("帮助 Murlex 修复崩溃问题"), view));
    uploadRow->addStretch();
    m_uploadButton = new QPushButton(QIcon::fromTheme(QStringLiteral("document-send")), QStringLiteral("上传诊断日志"), view);
    uploadRow->addWidget(m_uploadButton);
    m_uploadProgress = progressRow(QStringLiteral("上传中…"), view);
    uploadRow->addWidget(m_uploadProgress);
    layout->addLayout(uploadRow);

    auto *deleteRow = new QHBoxLayout;
    m_deleteButton = new QPushButton(QIcon::fromTheme(QStringLiteral("user-trash")), QStringLiteral("删除账户"), view);
    deleteRow->addWidget(m_deleteButton);
    m_deleteCaption = captionLabel(QStringLiteral("请发邮件申请删除"), view);
    deleteRow->addWidget(m_deleteCaption, 1);
    layout->addLayout(deleteRow);

    connect(m_signOutButton, &QPushButton::clicked, this, &AuthSection::signOut);
    connect(m_uploadButton, &QPushButton::clicked, this, &AuthSection::uploadDiagnostics);
    connect(m_deleteButton, &QPushButton::clicked, this, &AuthSection::requestAccountDeletion);
    return view;
}

void AuthSection::applyColors()
{
    const AuthSectionColors colors = AuthSectionColors::of(palette());
    for (QLabel *caption : {m_signInCaption, m_signedInCaption, m_deleteCaption})
        setTextColor(caption, colors.secondaryText);
    setTextColor(m_errorLabel, colors.error);
    setTextColor(m_deleteButton, colors.error);
    m_signInButton->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid %3;"
                                                 " border-radius: 6px; padding: 4px 14px; }"
                                                 "QPushButton:pressed { background-color: %4; }")
                                      .arg(colors.signInBackground.name(), colors.signInText.name(), colors.signInBorder.name(),
                                           colors.signInBackground.lighter(160).name()));
}

void AuthSection::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Set children's palettes are not followed by them: they are set again from the new one.
    if (event->type() == QEvent::PaletteChange && m_signInButton)
        applyColors();
}

void AuthSection::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_inProgress && !m_uploadInProgress)
        readSignedInState();
}

void AuthSection::readSignedInState()
{
    setSignedIn(!TokenStore::accessToken().value_or(QString()).isEmpty());
}

void AuthSection::setSignedIn(bool signedIn)
{
    m_signedOutView->setVisible(!signedIn);
    m_signedInView->setVisible(signedIn);
    if (m_isSignedIn == signedIn)
        return;
    m_isSignedIn = signedIn;
    Q_EMIT signedInChanged(signedIn);
}

void AuthSection::setInProgress(bool inProgress)
{
    m_inProgress = inProgress;
    m_signInControls->setVisible(!inProgress);
    m_signInProgress->setVisible(inProgress);
}

void AuthSection::setUploadInProgress(bool inProgress)
{
    m_uploadInProgress = inProgress;
    m_uploadButton->setVisible(!inProgress);
    m_uploadProgress->setVisible(inProgress);
}

void AuthSection::setErrorMessage(std::optional<QString> message)
{
    m_errorMessage = std::move(message);
    m_errorLabel->setText(m_errorMessage.value_or(QString()));
    m_errorLabel->setVisible(m_errorMessage.has_value());
}

void AuthSection::pasteFromClipboard()
{
    if (m_inProgress)
        return;
    const std::optional<QString> token = identityTokenFromClipboard();
    if (!token) {
        setErrorMessage(unreadableTokenMessage());
        return;
    }
    setErrorMessage(std::nullopt);
    // setText, unlike an edit, leaves nothing in the field's undo history.
    m_tokenField->setText(*token);
}

void AuthSection::signIn()
{
    if (m_inProgress)
        return;
    const std::optional<QString> token = identityTokenFromText(m_tokenField->text());
    if (!token) {
        setErrorMessage(unreadableTokenMessage());
        return;
    }
    exchange(*token);
}

QCoro::Task<> AuthSection::exchange(QString identityToken)
{
    const QPointer<AuthSection> self(this);
    setErrorMessage(std::nullopt);
    setInProgress(true);

    std::optional<Expected<Done, TokenFailure>> result;
    try {
        const QCoro::Task<Expected<Done, TokenFailure>> running = AuthClient::signInWithApple(identityToken);
        Expected<Done, TokenFailure> outcome = co_await running;
        result.emplace(std::move(outcome));
    } catch (const std::exception &e) {
        qCCritical(AppLogger::app, "sign-in exchange failed unexpectedly: %s", e.what());
    }
    identityToken.clear();
    if (!self)
        co_return;

    // Replaced rather than cleared, so that no undo step leads back to the token.
    m_tokenField->setText(QString());
    setInProgress(false);
    if (result && result->hasValue()) {
        qCInfo(AppLogger::app, "signed in");
        setSignedIn(true);
        co_return;
    }
    if (result) {
        qCCritical(AppLogger::app, "sign-in exchange failed: %s", qUtf8Printable(failureLogText(result->error())));
        setErrorMessage(QStringLiteral("交换 token 失败:") + failureText(result->error()));
    } else {
        setErrorMessage(QStringLiteral("交换 token 失败:") + QStringLiteral("未知错误"));
    }
}

void AuthSection::signOut()
{
    TokenStore::setAccessToken(std::nullopt);
    TokenStore::setRefreshToken(std::nullopt);
    qCInfo(AppLogger::app, "signed out");
    setErrorMessage(std::nullopt);
    setSignedIn(false);
}

void AuthSection::uploadDiagnostics()
{
    if (m_uploadInProgress)
        return;
    upload();
}

QCoro::Task<> AuthSection::upload()
{
    const QPointer<AuthSection> self(this);
    setUploadInProgress(true);
    std::optional<Expected<int, TokenFailure>> result;
    try {
        const QCoro::Task<Expected<int, TokenFailure>> running = DiagnosticsUploader::uploadAll();
        Expected<int, TokenFailure> outcome = co_await running;
        result.emplace(std::move(outcome));
    } catch (const std::exception &e) {
        qCCritical(AppLogger::app, "diagnostics upload failed unexpectedly: %s", e.what());
    }
    if (!self)
        co_return;
    setUploadInProgress(false);
    if (result && result->hasValue())
        showUploadAlert(UploadOutcome::success, result->value());
    else
        showUploadAlert(UploadOutcome::failure, 0);
}

QMessageBox *AuthSection::alert(const QString &text, const QString &informativeText)
{
    auto *box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Murlex"));
    box->setText(text);
    box->setInformativeText(informativeText);
    return box;
}

void AuthSection::showUploadAlert(UploadOutcome outcome, int count)
{
    QMessageBox *box = nullptr;
    if (outcome == UploadOutcome::failure) {
        box = alert(QStringLiteral("上传失败"), QStringLiteral("稍后再试"));
        box->setIcon(QMessageBox::Warning);
    } else if (count == 0) {
        box = alert(QStringLiteral("没有可上传日志"), QString());
    } else {
        box = alert(QStringLiteral("已上传 ") + QString::number(count) + QStringLiteral(" 条"), QString());
    }
    box->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
    box->open();
}

void AuthSection::requestAccountDeletion()
{
    const QString userId = AccountDeletionMail::userId(TokenStore::accessToken());
    const std::optional<QUrl> url = AccountDeletionMail::url(m_services.supportEmail, userId);
    if (url && m_services.openUrl(*url))
        return;
    showNoMailAlert();
}

void AuthSection::showNoMailAlert()
{
    QMessageBox *box = alert(QStringLiteral("你的设备未设置邮件账户。请手动发送邮件至") + m_services.supportEmail
                                 + QStringLiteral("，主题：删除账户。"),
                             QString());
    // Wide enough that the address and the subject stay on one line.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addItem(new QSpacerItem(box->fontMetrics().horizontalAdvance(box->text()) + 24, 0), grid->rowCount(), 0, 1, grid->columnCount());
    QPushButton *copy = box->addButton(QStringLiteral("复制邮箱"), QMessageBox::ActionRole);
    QPushButton *ok = box->addButton(QStringLiteral("好"), QMessageBox::RejectRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    connect(copy, &QPushButton::clicked, this, &AuthSection::copySupportEmail);
    box->open();
}

void AuthSection::copySupportEmail()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(m_services.supportEmail, QClipboard::Clipboard);
}
