// The version dialog: the program's icon, name, maker and version. Any left click inside it
// closes it.
#pragma once

#include "Form.h"
#include "Image.h"
#include "ui_VersionForm.h"

namespace penamo {

class TVersionForm : public TForm, public Ui::VersionForm {
  Q_OBJECT

 public:
  explicit TVersionForm(QWidget* parent = nullptr);

  void FormCreate(TCustomForm& Sender);
  void FormClick(TCustomForm& Sender);
};

}  // namespace penamo
