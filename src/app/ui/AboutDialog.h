#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace linvera {

/// "Kemo　Ver.2.1" from an AppVersionText such as "2_1_0": major and minor joined by a dot.
QString AboutVersionText(const QString& appVersionText);

/// The program's name, version and copyright. OKButton closes it.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);

    QLabel* lblVersion() const { return m_lblVersion; }
    QPushButton* OKButton() const { return m_OKButton; }

private:
    QLabel* m_lblVersion = nullptr;
    QPushButton* m_OKButton = nullptr;
};

} // namespace linvera
