#include "about_box.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "icon.hpp"

namespace velmora::gui {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Informazioni su Velmora"));

    auto* icon = new QLabel(this);
    icon->setPixmap(program_pixmap(32));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* name = new QLabel(QStringLiteral("Velmora Versione 1.0"), this);
    auto* notice =
        new QLabel(tr("Threshold VAR models whose structure a genetic algorithm finds."), this);
    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(notice);
    text->addStretch();

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon);
    layout->addSpacing(8);
    layout->addLayout(text, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

}  // namespace velmora::gui
