#include "VersionForm.h"

#include <QLabel>

#include "Application.h"
#include "LayoutFont.h"
#include "PenamoVersion.h"
#include "Picture.h"

namespace penamo {

TVersionForm::TVersionForm(QWidget* parent) : TForm(parent) {
  setupUi(this);
  setFont(LayoutFont());
  // The layout holds the word, the build the number.
  Label3->setText(Label3->text() + QString::fromUtf8(kVersion));
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poMainFormCenter);
  // Each label is as wide as its text.
  for (QLabel* label : {Label1, Label2, Label3})
    label->resize(label->sizeHint().width(), label->height());
  // A click on the group box or anything in it is a click on the window, as on its margin.
  GroupBox1->setAttribute(Qt::WA_TransparentForMouseEvents);
  OnCreate = [this](TCustomForm& sender) { FormCreate(sender); };
  OnClick = [this](TCustomForm& sender) { FormClick(sender); };
}

void TVersionForm::FormCreate(TCustomForm&) {
  const std::unique_ptr<TIcon> icon = TIcon::FromIcon(Application->Icon());
  Image1->Picture().Assign(icon.get());
}

void TVersionForm::FormClick(TCustomForm& Sender) {
  Application->RequestClose(Sender);
}

}  // namespace penamo
