#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class OverlaySpinner;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

// The account part of the settings ("认证"). Signed out, a person pastes an Apple identity
// token into the field (or takes the clipboard's text with "粘贴") and presses "登录": the token
// is exchanged for the backend's tokens through AuthClient. Signed in, it offers "退出登录"
// (deletes both stored tokens), the diagnostics upload and account deletion by e-mail.
//
// The pasted token lives only in the field, and only until the exchange has answered; it is
// never logged. Whether the section starts signed in is read from the token store when it is
// built (a non-empty access token) and again each time it is shown while nothing is running.
// Alerts are window-modal message boxes. Main thread only.
class AuthSection : public QWidget {
    Q_OBJECT

public:
    struct Services {
        // Where the account-deletion e-mail goes.
        QString supportEmail;
        // Hands a URL to the desktop; false when nothing took it.
        std::function<bool(const QUrl &)> openUrl;
    };

    // Services without openUrl use QDesktopServices::openUrl.
    explicit AuthSection(Services services, QWidget *parent = nullptr);
    ~AuthSection() override;

    bool isSignedIn() const { return m_isSignedIn; }
    // A sign-in exchange is running.
    bool inProgress() const { return m_inProgress; }
    // A diagnostics upload is running.
    bool uploadInProgress() const { return m_uploadInProgress; }
    // The message below the sign-in controls, none when there is nothing to say.
    std::optional<QString> errorMessage() const { return m_errorMessage; }

    // The actions behind the buttons.
    void pasteFromClipboard();
    void signIn();
    void signOut();
    void uploadDiagnostics();
    void requestAccountDeletion();

Q_SIGNALS:
    void signedInChanged(bool signedIn);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    enum class UploadOutcome { success, failure };

    QWidget *buildSignedOutView();
    QWidget *buildSignedInView();
    void applyColors();
    void setSignedIn(bool signedIn);
    void setInProgress(bool inProgress);
    void setUploadInProgress(bool inProgress);
    void setErrorMessage(std::optional<QString> message);
    void readSignedInState();

    QCoro::Task<> exchange(QString identityToken);
    QCoro::Task<> upload();
    void showUploadAlert(UploadOutcome outcome, int count);
    void showNoMailAlert();
    QMessageBox *alert(const QString &text, const QString &informativeText);
    void copySupportEmail();

    Services m_services;
    bool m_isSignedIn = false;
    bool m_inProgress = false;
    bool m_uploadInProgress = false;
    std::optional<QString> m_errorMessage;

    QWidget *m_signedOutView = nullptr;
    QWidget *m_signInControls = nullptr;
    QLineEdit *m_tokenField = nullptr;
    QPushButton *m_pasteButton = nullptr;
    QPushButton *m_signInButton = nullptr;
    QWidget *m_signInProgress = nullptr;
    QLabel *m_signInCaption = nullptr;
    QLabel *m_errorLabel = nullptr;

    QWidget *m_signedInView = nullptr;
    QLabel *m_signedInCaption = nullptr;
    QPushButton *m_signOutButton = nullptr;
    QPushButton *m_uploadButton = nullptr;
    QWidget *m_uploadProgress = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QLabel *m_deleteCaption = nullptr;
};
