// The main window's insides, for tests only: the layout's widgets, the dialogs and the check of
// the sample groups, which the window otherwise keeps to itself.
#pragma once

#include <initializer_list>
#include <vector>

#include "MainForm.h"

namespace penamo {

struct TMainFormTestAccess {
  static Ui::MainForm& Layout(TMainForm& form) { return form; }
  static TOpenDialog& OpenDialog1(TMainForm& form) { return form.OpenDialog1; }
  static TSaveDialog& SaveDialog1(TMainForm& form) { return form.SaveDialog1; }
  // The strength as the window holds it, unchecked: a value the diffusions refuse, which the
  // window's own field never gives, makes a filter refuse a preview.
  static void SetStrengthUnchecked(TMainForm& form, std::uint8_t strength) {
    form.FStrength = strength;
  }
  // The width the toolbar's own controls on the separator need to stand uncovered.
  static int SeparatorContentWidth(const TMainForm& form) { return form.SeparatorContentWidth(); }

  // Runs the window's start-up check on its own sample groups, each given the filter of
  // `filters` in turn instead of its own (the list no longer than the groups).
  static void CheckGroupsShowing(std::initializer_list<TFilterId> filters) {
    const std::vector<TFilterId> groups(filters);
    TMainForm::CheckSampleGroups(groups, FilterTable());
  }

  // A filter's group as the window shows it: the group, its preview and its save button.
  struct TGroup {
    QGroupBox* Group = nullptr;
    TImage* Preview = nullptr;
    TFrameSpeedButton* Save = nullptr;
  };
  static TGroup GroupOf(TMainForm& form, TFilterId filter) {
    for (const TMainForm::TFilterView& view : form.FilterViews())
      if (view.Filter->Id == filter) return {view.Group, view.Preview, view.Save};
    return {};
  }
};

}  // namespace penamo
