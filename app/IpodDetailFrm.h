#pragma once
// The detail window: the transfer log with the program's version above it and the system's
// version below it, for the user to paste into a support request.
#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TIpodDetailFrm : public QDialog {
    Q_OBJECT
public:
    explicit TIpodDetailFrm(QWidget* owner);

    // Appends the text (each of its line breaks starts a new line), then the system line.
    void ShowLog(const QString& text);
    void CloseBtnClick();
    void SupportLbClick();

    QPlainTextEdit* DetailMm = nullptr;
    QLabel* SupportLb = nullptr;
    QPushButton* CloseBtn = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
};
