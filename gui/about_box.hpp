#pragma once
// "Informazioni su Velmora": the program icon, its name and version.

#include <QDialog>

namespace velmora::gui {

class AboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit AboutBox(QWidget* parent = nullptr);
};

}  // namespace velmora::gui
