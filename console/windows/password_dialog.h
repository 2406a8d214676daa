// The login window: the service access code chooses the operator's rights.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QShowEvent;

class TForm3 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm3(QWidget *parent = nullptr);

  public slots:
    void FormActivate();
    void BitBtn1Click(); // "OK"
    void BitBtn2Click(); // "Отмена"

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    QLineEdit *m_code = nullptr;
};
