#pragma once

#include "conv/Endpoints.h"
#include "conv/ShorteningServices.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace linvera {

class SettingsModel;

namespace platform {
class MessageBoxes;
}

/// The settings dialog. It edits the settings model: every change of a control goes to the model at
/// once, and the rest of the program reads the model. Closing it only hides it.
/// Registering the browser entries and opening the log are reported as signals for start-up to wire.
class frmSettings : public QDialog
{
    Q_OBJECT

public:
    explicit frmSettings(platform::MessageBoxes& boxes, QWidget* parent = nullptr);

    /// The model the controls edit; it takes what the controls show now.
    void setModel(SettingsModel* model);
    /// Hands every control's value to the model (after start-up set controls a stored value could
    /// not reach, so the model holds what the dialog shows).
    void updateModel();

    /// The short-link domains that `lstShortURLType` names.
    void setEndpoints(const Endpoints& endpoints);
    /// The conversion log that the log buttons show and delete.
    void setLogFilePath(const QString& path) { m_logFilePath = path; }
    QString logFilePath() const { return m_logFilePath; }

    QComboBox* lstImageType() const { return m_lstImageType; }
    QComboBox* lstShortURLType() const { return m_lstShortURLType; }
    QCheckBox* chkMenuExt() const { return m_chkMenuExt; }
    QCheckBox* chkFollowRedirects() const { return m_chkFollowRedirects; }
    QCheckBox* chkStripTrackers() const { return m_chkStripTrackers; }
    /// The chosen self-hosted service's base URL and secret (signature token or API key).
    QLineEdit* txtServiceUrl() const { return m_txtServiceUrl; }
    QLineEdit* txtServiceKey() const { return m_txtServiceKey; }
    /// What the fields hold for each self-hosted service; the fields show the chosen one's.
    ShortenerAccounts accounts() const;
    void setAccounts(const ShortenerAccounts& accounts);
    QCheckBox* chkToolBarIcon() const { return m_chkToolBarIcon; }
    QLineEdit* txtLogin() const { return m_txtLogin; }
    QLineEdit* txtPass() const { return m_txtPass; }
    QCheckBox* chkLoginSave() const { return m_chkLoginSave; }
    QCheckBox* chkPassSave() const { return m_chkPassSave; }
    QPushButton* btnShowLog() const { return m_btnShowLog; }
    QPushButton* btnDeleteLog() const { return m_btnDeleteLog; }
    QPushButton* OKButton() const { return m_OKButton; }

Q_SIGNALS:
    /// `chkMenuExt` changed (a click, or start-up setting another value): true when it is now checked
    /// (register the context-menu entry), false otherwise (remove it).
    void menuExtToggled(bool checked);
    /// The same for `chkToolBarIcon` and the toolbar button.
    void toolbarIconToggled(bool checked);
    /// `btnShowLog`: open the log file with its program and report a failure.
    void showLogRequested(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void deleteLog();
    void updateAccounts();

    platform::MessageBoxes& m_boxes;
    QString m_logFilePath;
    QComboBox* m_lstImageType = nullptr;
    QComboBox* m_lstShortURLType = nullptr;
    QPushButton* m_btnDeleteLog = nullptr;
    QPushButton* m_btnShowLog = nullptr;
    QLineEdit* m_txtLogin = nullptr;
    QLineEdit* m_txtPass = nullptr;
    QCheckBox* m_chkLoginSave = nullptr;
    QCheckBox* m_chkPassSave = nullptr;
    QCheckBox* m_chkToolBarIcon = nullptr;
    QCheckBox* m_chkMenuExt = nullptr;
    QCheckBox* m_chkFollowRedirects = nullptr;
    QCheckBox* m_chkStripTrackers = nullptr;
    QLineEdit* m_txtServiceUrl = nullptr;
    QLineEdit* m_txtServiceKey = nullptr;
    QWidget* m_serviceFields = nullptr;
    QLabel* m_lblServiceKey = nullptr;
    ShortenerAccounts m_accounts;
    int m_shownService = -1;
    SettingsModel* m_model = nullptr;
    bool m_showingService = false; // the fields are being switched to another service
    void showServiceFields();
    QPushButton* m_OKButton = nullptr;
};

/// The entry of `lstShortURLType` for a short-link domain.
QString ShortUrlTypeItem(const QString& domain);

} // namespace linvera
