#include "EndToEndRig.h"

#include "ExternalTool.h"
#include "PipeSource.h"
#include "net/AuthClient.h"

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <ctime>

namespace {
QCoro::Task<bool> signInAs(QString subject)
{
    const auto result = co_await AuthClient::signInWithApple(subject);
    co_return bool(result);
}

QString decoded(const QString &percentEncoded)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(percentEncoded.toUtf8()));
}
} // namespace

QString EndToEndRig::clipboardText()
{
    return QStringLiteral("剪贴板原文 before dictation");
}

EndToEndRig::EndToEndRig() = default;

EndToEndRig::~EndToEndRig()
{
    m_app.reset();
    m_target.reset();
    m_clipboardOwner.reset();
    NetworkAccess::setShared(nullptr);
}

bool EndToEndRig::fail(const QString &why)
{
    m_failure = why;
    return false;
}

std::nullopt_t EndToEndRig::missing(const QString &why)
{
    m_failure = why;
    // The application's own account of what happened, for the failure's report.
    for (const QString &line : m_app->lines())
        qInfo("murlex: %s", qUtf8Printable(line));
    const QStringList targetLines = m_target->linesStartingWith(QString());
    for (const QString &line : targetLines)
        qInfo("field: %s", qUtf8Printable(line));
    return std::nullopt;
}

qint64 EndToEndRig::monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

QProcessEnvironment EndToEndRig::appEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString home = m_home.path();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.insert(QStringLiteral("MURLEX_E2E_STANDIN_PORT"), QString::number(m_server.port()));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quillfen.*=true"));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    return environment;
}

bool EndToEndRig::signIn()
{
    return QCoro::waitFor(signInAs(QString::fromLatin1(subject)));
}

bool EndToEndRig::start(const QStringList &serverHotWords)
{
    if (!m_home.isValid() || !m_runtime.isValid())
        return fail(QStringLiteral("no temporary directories"));
    if (!m_server.start())
        return fail(QStringLiteral("the stand-in did not start"));
    m_access = std::make_unique<RedirectingNetworkAccess>(m_server.port(), DevServer::caCertificates());
    NetworkAccess::setShared(m_access.get());
    if (!signIn())
        return fail(QStringLiteral("sign-in against the stand-in failed"));
    if (!m_server.setHotWords(QString::fromLatin1(subject), serverHotWords))
        return fail(QStringLiteral("could not set the server's hot words"));

    m_clipboardOwner = HelperProcess::clipboardOwner({{QStringLiteral("text/plain"), clipboardText().toUtf8()}});
    if (!m_clipboardOwner)
        return fail(QStringLiteral("the clipboard owner did not start"));

    m_target = std::make_unique<HelperProcess>(QStringLiteral("injection_target"));
    const auto window = m_target->waitForLine(QStringLiteral("window "));
    if (!window)
        return fail(QStringLiteral("the text field did not show"));
    m_window = *window;
    if (!focusField())
        return fail(QStringLiteral("the text field did not get the focus"));

    m_app = std::make_unique<MurlexProcess>(QStringList{}, appEnvironment());
    if (!m_app->waitForCount(QStringLiteral("hotkey registered"), 1))
        return fail(QStringLiteral("the application did not register its shortcut:\n"));
    // The launch sync takes the server's list; the first dictation should send it.
    if (!QTest::qWaitFor([&] { return m_server.requestCount("GET", QStringLiteral("/hotwords")) >= 1; }, 20000))
        return fail(QStringLiteral("the application did not sync its hot words"));
    QTest::qWait(300);
    return true;
}

bool EndToEndRig::focusField()
{
    return ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_window})
               .has_value() &&
           m_target->waitForLine(QStringLiteral("active")).has_value();
}

bool EndToEndRig::pressShortcut()
{
    return ExternalTool::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+space")}).has_value();
}

QString EndToEndRig::fieldTextOf(const HelperProcess &field)
{
    const QStringList texts = field.linesStartingWith(QStringLiteral("text "));
    return texts.isEmpty() ? QString() : decoded(texts.last());
}

int EndToEndRig::fieldChanges() const
{
    return int(m_target->linesStartingWith(QStringLiteral("text ")).size());
}

std::optional<QString> EndToEndRig::clipboardNow()
{
    const auto bytes = ExternalTool::run(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                                         QStringLiteral("-o"), QStringLiteral("-t"),
                                                         QStringLiteral("UTF8_STRING")});
    if (!bytes)
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

std::optional<EndToEndRig::Heard> EndToEndRig::heard(const QString &polished)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^Duration (\\d+\\.\\d\\d) s, level -?\\d+\\.\\d dBFS, frequency (\\d+) Hz\\.(?: Hot words: (.*)\\.)?$"));
    const auto match = pattern.match(polished);
    if (!match.hasMatch())
        return std::nullopt;
    return Heard{match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3)};
}

std::optional<EndToEndRig::Dictation> EndToEndRig::dictate(const QByteArray &pcm, const std::function<bool()> &toggle)
{
    const auto press = [&toggle] { return toggle ? toggle() : pressShortcut(); };
    Dictation dictation;
    const QString before = fieldText();
    const int changes = fieldChanges();
    const int captures = m_app->count(QStringLiteral("capture started"));
    const int injections = m_app->count(QStringLiteral("injected "));

    dictation.firstPressNs = monotonicNs();
    if (!press())
        return missing(QStringLiteral("the toggle failed"));
    // Speak only while the microphone records: a full FIFO would hand stale audio to the next capture.
    if (!m_app->waitForCount(QStringLiteral("capture started"), captures + 1))
        return missing(QStringLiteral("the capture did not start:\n"));
    PipeSource::play(pcm);

    dictation.secondPressNs = monotonicNs();
    if (!press())
        return missing(QStringLiteral("the toggle failed"));
    // Woken by the field's report itself, so that the time taken is when it arrived.
    if (fieldChanges() <= changes) {
        QEventLoop loop;
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        QObject::connect(&m_target->process(), &QProcess::readyReadStandardOutput, &loop, [&] {
            if (fieldChanges() > changes)
                loop.quit();
        });
        loop.exec();
    }
    if (fieldChanges() <= changes)
        return missing(QStringLiteral("the field did not change"));
    dictation.textSeenNs = monotonicNs();
    if (!m_app->waitForCount(QStringLiteral("injected "), injections + 1))
        return missing(QStringLiteral("no injection logged"));
    const QString after = fieldText();
    if (!after.startsWith(before))
        return missing(QStringLiteral("the field lost its text: ") + after);
    dictation.inserted = after.mid(before.size());
    return dictation;
}
