#include "MainForm.h"

#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <utility>

#include "Application.h"
#include "BandFilter.h"
#include "BandWriter.h"
#include "ClaimQuestion.h"
#include "DeepFilters.h"
#include "DeepRowSource.h"
#include "Exceptions.h"
#include "FailureCause.h"
#include "LayoutFont.h"
#include "OnWhiteRows.h"
#include "PictureFile.h"
#include "PictureKind.h"
#include "Pictures.h"
#include "RowSource.h"
#include "VersionForm.h"

namespace penamo {

TMainForm* MainForm = nullptr;

namespace {

// A dialog's entry for one format: "PNG(*.png)|*.png".
QString FilterEntryOf(const TPictureFormat& format) {
  QStringList patterns;
  for (const std::string& extension : format.Extensions)
    patterns.append(QStringLiteral("*.") + QString::fromStdString(extension));
  const QString joined = patterns.join(QLatin1Char(';'));
  return QString::fromUtf8(format.Name) + QLatin1Char('(') + joined + QStringLiteral(")|") + joined;
}

// The open dialog's entries: every picture the tool reads first, then one entry per format.
QString OpenFilter() {
  QStringList all, entries;
  for (const TPictureFormat& format : PictureFormats()) {
    for (const std::string& extension : format.Extensions)
      all.append(QStringLiteral("*.") + QString::fromStdString(extension));
    entries.append(FilterEntryOf(format));
  }
  const QString everything = all.join(QLatin1Char(';'));
  return QStringLiteral("画像ファイル(") + everything + QStringLiteral(")|") + everything +
         QLatin1Char('|') + entries.join(QLatin1Char('|'));
}

// The formats a save writes, in the save dialog's order.
std::vector<const TPictureFormat*> SaveFormats() {
  std::vector<const TPictureFormat*> formats;
  for (const TPictureFormat& format : PictureFormats())
    if (format.Writable()) formats.push_back(&format);
  return formats;
}

// The save dialog's entries: one per format a save writes.
QString SaveFilter() {
  QStringList entries;
  for (const TPictureFormat* format : SaveFormats())
    entries.append(FilterEntryOf(*format));
  return entries.join(QLatin1Char('|'));
}

// The format of the save dialog's entry chosen last (the first one if none is).
const TPictureFormat& ChosenSaveFormat(const TSaveDialog& dialog) {
  const std::vector<const TPictureFormat*> formats = SaveFormats();
  const int index = dialog.FilterIndex();  // 1-based, as the dialog counts its entries
  if (index >= 1 && static_cast<std::size_t>(index) <= formats.size())
    return *formats[static_cast<std::size_t>(index) - 1];
  return *formats.front();
}

// A format the tool reads but does not write is refused before anything is written.
void RefuseUnwritten(const TPictureFormat& format) {
  if (format.Writable()) return;
  throw Exception(std::string(format.Name) +
                      " 形式では保存できません。ビットマップ (.bmp) か PNG (.png) の名前を付けて"
                      "ください",
                  "format-not-written");
}

// The format a save writes. The name's extension decides when it names a picture format, so
// that a file's content never contradicts its name; the entry chosen decides only for a name
// whose extension names none (the dialog has already given a bare name the entry's extension).
const TPictureFormat& SavedFormat(const TSaveDialog& dialog) {
  const QString name = QFileInfo(dialog.FileName()).fileName();
  if (const TPictureFormat* typed = FormatOfFileName(name.toStdString())) {
    RefuseUnwritten(*typed);
    return *typed;
  }
  return ChosenSaveFormat(dialog);
}

// The format a save of a picture with transparency is offered instead of one that keeps no
// alpha: the first written that keeps it.
const TPictureFormat& AlphaKeepingFormat() {
  const std::vector<const TPictureFormat*> formats = SaveFormats();
  for (const TPictureFormat* format : formats)
    if (format->Writer.KeepsAlpha) return *format;
  throw std::logic_error("no format written keeps the alpha");
}

// The name a save in format takes instead: the extension of a format written replaced by the
// format's usual one, any other name extended.
QString NameFor(const QString& fileName, const TPictureFormat& format) {
  const QString extension = QString::fromStdString(format.Extensions.front());
  const TPictureFormat* typed = FormatOfFileName(QFileInfo(fileName).fileName().toStdString());
  if (typed != nullptr && typed->Writable()) {
    const QString suffix = QFileInfo(fileName).suffix();
    return fileName.left(fileName.size() - suffix.size()) + extension;
  }
  return fileName + QLatin1Char('.') + extension;
}

// What a bitmap save of a picture with transparency does, as the user answers.
enum class TTransparentSave { AsAlphaKeeping, OnWhite, Cancel };

TTransparentSave AskTransparentSave(const QString& alphaName, const TPictureFormat& alphaFormat) {
  const QString alphaFormatName = QString::fromUtf8(alphaFormat.Name);
  const QString text = QString::fromUtf8(
                           "透明な部分があります。ビットマップには透明度を保存できません。\n"
                           "%1 形式 (%2) で保存するか、\n"
                           "白い背景に重ねてビットマップで保存してください。")
                           .arg(alphaFormatName, QFileInfo(alphaName).fileName());
  const QStringList buttons = {alphaFormatName + QString::fromUtf8(" で保存"),
                               QString::fromUtf8("白い背景に重ねて保存"),
                               QString::fromUtf8("キャンセル")};
  switch (Application->AskMessageBox({text, Application->Title(), TMessageIcon::Warning}, buttons,
                                     0, 2)) {
    case 0:
      return TTransparentSave::AsAlphaKeeping;
    case 1:
      return TTransparentSave::OnWhite;
    default:
      return TTransparentSave::Cancel;
  }
}

// The wait cursor for the length of one long operation, however it ends.
class TBusyCursor {
 public:
  TBusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

std::string FileSystemName(const QString& fileName) {
  return QFile::encodeName(fileName).toStdString();
}

// The one local file a drag carries, if it carries exactly one.
std::optional<QString> DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return std::nullopt;
  const QList<QUrl> urls = data->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
  return urls.front().toLocalFile();
}

}  // namespace

TMainForm::TSaveHandler TMainForm::PublishedSaveHandler(std::string_view name) {
#define PENAMO_PUBLISHED(handler) \
  { #handler, &TMainForm::handler }
  static const std::pair<std::string_view, TSaveHandler> published[] = {
      PENAMO_PUBLISHED(SavePatternDither4Click), PENAMO_PUBLISHED(SavePatternDither16Click),
      PENAMO_PUBLISHED(SaveDiffError64Click),    PENAMO_PUBLISHED(SaveDiffError32Click),
      PENAMO_PUBLISHED(SaveDiffError16Click),    PENAMO_PUBLISHED(SaveDiffusionClick),
      PENAMO_PUBLISHED(SaveOrderedClick),
  };
#undef PENAMO_PUBLISHED
  for (const auto& [published_name, handler] : published)
    if (published_name == name) return handler;
  return nullptr;
}

void TMainForm::CheckSampleGroups(std::span<const TFilterId> groups,
                                  std::span<const TFilterEntry> filters) {
  // Each group's row lies after the previous group's: every group names a row of its own, and
  // the groups follow the table. A row without a group is simply not shown.
  std::size_t next = 0;
  for (const TFilterId group : groups) {
    while (next < filters.size() && filters[next].Id != group)
      ++next;
    if (next == filters.size())
      throw std::logic_error("a sample group has no filter of its own in the table's order");
    ++next;
  }
}

void TMainForm::BindFilterGroups() {
  FViews.clear();
  for (const TFilterEntry& filter : FilterTable()) {
    const QString ident =
        QString::fromUtf8(filter.Ident.data(), static_cast<qsizetype>(filter.Ident.size()));
    auto* preview = ident.isEmpty() ? nullptr : findChild<TImage*>(ident);
    auto* save =
        ident.isEmpty() ? nullptr : findChild<TFrameSpeedButton*>(QStringLiteral("Save") + ident);
    auto* group = preview != nullptr ? qobject_cast<QGroupBox*>(preview->parentWidget()) : nullptr;
    if (group == nullptr || save == nullptr || save->parentWidget() != group) {
      FViews.push_back(BuildFilterGroup(filter));
      continue;
    }
    const TSaveHandler published = PublishedSaveHandler(
        (QStringLiteral("Save") + ident + QStringLiteral("Click")).toStdString());
    FViews.push_back({&filter, group, preview, save,
                      published != nullptr ? published : &TMainForm::SaveButtonClick});
  }
  // Each column's groups in the order they stand there (row by row, left to right) follow the
  // table.
  for (const TFilterColumn column : {TFilterColumn::Samples, TFilterColumn::Deep}) {
    std::vector<const TFilterView*> standing;
    for (const TFilterView& view : FViews)
      if (view.Filter->Column == column) standing.push_back(&view);
    std::stable_sort(
        standing.begin(), standing.end(), [](const TFilterView* a, const TFilterView* b) {
          return std::pair(a->Group->y(), a->Group->x()) < std::pair(b->Group->y(), b->Group->x());
        });
    std::vector<TFilterId> order;
    for (const TFilterView* view : standing)
      order.push_back(view->Filter->Id);
    CheckSampleGroups(order, FilterTable());
  }
}

TMainForm::TFilterView TMainForm::BuildFilterGroup(const TFilterEntry& filter) {
  // The layout's groups stand 160 pixels apart across and 200 down, three to a row among the
  // samples and one to a row in the deep column; each is 145 x 193, its preview framed by a
  // sunken box, its save button at the bottom right.
  const bool deep = filter.Column == TFilterColumn::Deep;
  QWidget* panel = deep ? DeepSamplePanel : SamplePanel;
  const int columns = deep ? 1 : 3;
  const auto slot =
      static_cast<int>(panel->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly).size());
  const QRect bounds(8 + 160 * (slot % columns), 8 + 200 * (slot / columns), 145, 193);
  const QString ident =
      QString::fromUtf8(filter.Ident.data(), static_cast<qsizetype>(filter.Ident.size()));
  auto* group = new QGroupBox(panel);
  group->setObjectName(QStringLiteral("Group") + ident);
  group->setGeometry(bounds);
  auto* bevel = new QFrame(group);
  bevel->setGeometry(8, 23, 131, 132);
  bevel->setFrameShape(QFrame::Box);
  bevel->setFrameShadow(QFrame::Sunken);
  auto* preview = new TImage(group);
  preview->setObjectName(ident);
  preview->setGeometry(8, 24, 128, 128);
  auto* save = new TFrameSpeedButton(group);
  save->setObjectName(QStringLiteral("Save") + ident);
  save->setGeometry(112, 160, 23, 22);
  // The panel grows to hold the group with the same margin below and at the right.
  panel->resize(std::max(panel->width(), bounds.right() + 1 + (deep ? 8 : 168 - 145)),
                std::max(panel->height(), bounds.bottom() + 1 + 8));
  group->show();
  return {&filter, group, preview, save, &TMainForm::SaveButtonClick};
}

TMainForm::TMainForm(QWidget* parent) : TForm(parent) {
  setupUi(this);
  BindFilterGroups();
  ApplyLayout();
  ApplyDeepLayout();
  OnCreate = [this](TCustomForm& sender) { FormCreate(sender); };
  OnDestroy = [this](TCustomForm& sender) { FormDestroy(sender); };
  OnResize = [this](TCustomForm& sender) { FormResize(sender); };
  ToolBar1->OnResize = [this](TToolBar& sender) { ToolBar1Resize(sender); };
  OpenBuuton->OnClick = [this](TSpeedButton& sender) { OpenBuutonClick(sender); };
  FrameSpeedButton2->OnClick = [this](TSpeedButton& sender) { FrameSpeedButton2Click(sender); };
  FrameSpeedButton1->OnClick = [this](TSpeedButton& sender) { FrameSpeedButton1Click(sender); };
  SampleImage->OnMouseUp = [this](TImage& sender, TMouseButton button, TShiftState shift, int x,
                                  int y) { SampleImageMouseUp(sender, button, shift, x, y); };
  for (const TFilterView& view : FilterViews()) {
    view.Save->OnClick = [this, click = view.SaveClick](TSpeedButton& sender) {
      (this->*click)(sender);
    };
  }
  VersionInfoButton->OnClick = [this](TSpeedButton& sender) { VersionInfoButtonClick(sender); };
  EditButton->OnClick = [this](TSpeedButton& sender) { EditButtonClick(sender); };
  SetUpKeyboard();
  SetUpViewControls();
  SetUpFilteredView();
}

TMainForm::~TMainForm() = default;

void TMainForm::ApplyLayout() {
  setFont(LayoutFont());
  SetPosition(TPosition::poScreenCenter);
  setAcceptDrops(true);

  ScrollBox->SetColor(clBackground);
  // The scroll box shows what lives in its client area.
  for (QWidget* child : {static_cast<QWidget*>(SampleImage), static_cast<QWidget*>(SamplePanel)}) {
    const QRect bounds = child->geometry();
    child->setParent(ScrollBox->Client());
    child->setGeometry(bounds);
  }
  SampleImage->SetAutoSize(true);
  SampleImage->hide();
  SamplePanel->show();

  struct TButtonSetting {
    TFrameSpeedButton* Button;
    std::string_view Glyph;
    int NumGlyphs;
    std::int32_t GroupIndex;
    bool Down;
    std::string_view Hint;
  };
  const TButtonSetting buttons[] = {
      {OpenBuuton, Pictures::Open, 1, 0, false, "ビットマップを読み込む"},
      {FrameSpeedButton2, Pictures::SampleView, 1, 1, true, "サンプルの表示"},
      {FrameSpeedButton1, Pictures::FullView, 1, 1, false, "ビットマップの表示"},
      {VersionInfoButton, Pictures::Version, 1, 0, false, "バージョン情報を表示する"},
      {EditButton, Pictures::Exit, 1, 0, false, "アプリケーションを終了する"},
  };
  std::vector<TButtonSetting> settings(std::begin(buttons), std::end(buttons));
  for (const TFilterView& view : FilterViews()) {
    view.Group->setTitle(QString::fromUtf8(view.Filter->Caption));
    settings.push_back({view.Save, Pictures::Save, 2, 0, false, view.Filter->SaveHint});
  }
  for (const TButtonSetting& setting : settings) {
    TFrameSpeedButton& button = *setting.Button;
    button.SetFlat(true);
    button.SetShowHint(true);
    button.SetHint(
        QString::fromUtf8(setting.Hint.data(), static_cast<qsizetype>(setting.Hint.size())));
    TBitmap glyph;
    LoadPicture(glyph, setting.Glyph);
    button.SetGlyph(&glyph);
    button.SetNumGlyphs(setting.NumGlyphs);
    button.SetGroupIndex(setting.GroupIndex);  // before Down: only a grouped button goes down
    button.SetDown(setting.Down);
    button.Loaded();
  }

  OpenDialog1.SetFilter(OpenFilter());
  SaveDialog1.SetFilter(SaveFilter());
  SaveDialog1.SetDefaultExt(QStringLiteral("bmp"));
  // The stored layout leaves the overwrite question off, so that a save replaced any file,
  // the open picture's own included, without a word: lost work. The dialog asks.
  SaveDialog1.SetOptions(SaveDialog1.Options() | ofOverwritePrompt);
}

void TMainForm::SetUpKeyboard() {
  struct TKeyedButton {
    TFrameSpeedButton* Button;
    QString Name;  // what a screen reader announces; the hint is the description
    QKeySequence Keys;
    std::function<void()> Command;
  };
  std::vector<TKeyedButton> buttons = {
      {OpenBuuton, QStringLiteral("開く"), QKeySequence(Qt::CTRL | Qt::Key_O),
       [this] { OpenBuutonClick(*OpenBuuton); }},
      {FrameSpeedButton2, QStringLiteral("サンプル"), {}, {}},
      {FrameSpeedButton1, QStringLiteral("ビットマップ"), {}, {}},
      {VersionInfoButton, QStringLiteral("バージョン情報"), QKeySequence(Qt::Key_F1),
       [this] { VersionInfoButtonClick(*VersionInfoButton); }},
      {EditButton, QStringLiteral("終了"), QKeySequence(Qt::CTRL | Qt::Key_Q),
       [this] { EditButtonClick(*EditButton); }},
  };
  // Ctrl and each group's digit (the table's) saves through its filter: 1 to 5 the five groups in
  // the order they stand, 6 and 7 the deep column's two.
  for (const TFilterView& view : FilterViews()) {
    const TFilterId filter = view.Filter->Id;
    const int digit = view.Filter->ShortcutDigit;
    buttons.push_back({view.Save,
                       QString::fromUtf8(view.Filter->Caption) + QStringLiteral("で保存"),
                       digit > 0 ? QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + digit))
                                 : QKeySequence(),
                       [this, filter] { SaveFiltered(filter); }});
  }

  QWidget* previous = nullptr;
  for (TKeyedButton& keyed : buttons) {
    TFrameSpeedButton& button = *keyed.Button;
    button.SetTabStop(true);
    button.setAccessibleName(keyed.Name);
    button.setAccessibleDescription(button.Hint());
    if (!keyed.Keys.isEmpty()) {
      button.SetHintShortcut(keyed.Keys.toString(QKeySequence::NativeText));
      AddShortcut(keyed.Keys, std::move(keyed.Command));
    }
    // Tab follows the buttons as they stand: the toolbar from the left, then the groups.
    if (previous != nullptr) setTabOrder(previous, &button);
    previous = &button;
  }
}

void TMainForm::FormCreate(TCustomForm&) {
  FBitmap = std::make_unique<TBitmap>();
  FExtras = std::make_unique<TPictureExtras>();
  FDeep = std::make_unique<TDeepPicture>();
}

void TMainForm::FormDestroy(TCustomForm&) {
  ReleaseFilteredView();           // the work reads the pictures about to go
  SampleImage->SetAlpha(nullptr);  // it refers to the plane about to go
  FBitmap.reset();
  FExtras.reset();
  FDeep.reset();
}

void TMainForm::FormResize(TCustomForm&) {
  // Outer sizes; the division truncates toward zero, so a box smaller than the panel gives
  // negative offsets and the panel reaches past its top-left edges.
  const int left = (ScrollBox->width() - SamplePanel->width()) / 2;
  const int top = (ScrollBox->height() - SamplePanel->height()) / 2;
  SamplePanel->move(left, top);
  PlaceDeepSamples();
}

void TMainForm::ToolBar1Resize(TToolBar& Sender) {
  // Keeps the buttons after the separator against the toolbar's right end; but never narrower
  // than the controls standing on it, which the buttons after it would otherwise cover. On a
  // toolbar too narrow for everything, the last buttons go past its right end instead.
  ToolButton2->resize(std::max(Sender.width() - 135, SeparatorContentWidth()),
                      ToolButton2->height());
}

int TMainForm::SeparatorContentWidth() const {
  // A gap after the last control, as before the first (the zoom list stands 8 pixels in).
  constexpr int kGap = 6;
  int right = 0;
  for (const QWidget* control : ToolButton2->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    // Hidden on purpose (not merely before the window first shows): takes no room.
    if (control->isHidden() && control->testAttribute(Qt::WA_WState_ExplicitShowHide)) continue;
    right = std::max(right, control->geometry().right() + 1);
  }
  return right > 0 ? right + kGap : 0;
}

void TMainForm::OpenBuutonClick(TSpeedButton&) {
  if (!OpenDialog1.Execute()) return;
  OpenFile(OpenDialog1.FileName());
}

void TMainForm::OpenFile(const QString& FileName) {
  const TBusyCursor busy;
  // Read and converted aside and taken over only when both succeed: a conversion that fails
  // must not leave a picture that is neither the one shown nor in the format the filters and
  // the previews expect. The alpha plane and colour profile stay beside it for a PNG save.
  TBitmap loaded;
  TPictureExtras extras;
  TDeepPicture deep;
  bool precisionDropped = false;
  const std::string name = FileSystemName(FileName);
  // The filtered full view lets its picture go before another is read (and starts again for
  // whichever picture is open afterwards, the old one should the read fail).
  ReleaseFilteredView();
  struct TRestart {
    TMainForm& Form;
    ~TRestart() {
      Guarded(&Form, [this] { Form.RestartFilteredView(); });
    }
  } restart{*this};
  const auto read = [&] {
    try {
      ReadPictureWithDeep(name, loaded, deep, extras);
    } catch (const EOutOfMemory&) {
      // The deep picture (six bytes a pixel) did not fit beside the 8-bit one: the picture
      // opens as the 8-bit read alone makes it, and the user is told what the deep filters then
      // see.
      deep = TDeepPicture();
      ReadPicture(name, loaded, extras);
      precisionDropped = true;
    }
  };
  // A file claiming far more pixels than it holds opens only when the user says so.
  ReadAskingOverClaims([&](const auto& work) { RunFileWork(name, work); }, read, AskToReadClaim);
  FBitmap->ShareFrom(&loaded);
  *FExtras = std::move(extras);
  *FDeep = std::move(deep);
  FPictureName = FileName;
  SampleImage->Picture().Assign(FBitmap.get());
  ShowTransparency();
  FSampleOrigin = TPoint{0, 0};
  UpdateSamples(*FBitmap, FSampleOrigin);
  if (precisionDropped) {
    Application->ShowMessageBox(
        {QString::fromUtf8("メモリが足りないため、16 ビットの精度を保たずに開きました。"
                           "高精度誤差拡散とブルーノイズディザは 8 ビットに丸めた画像から計算"
                           "します"),
         Application->Title(), TMessageIcon::Warning});
  }
}

void TMainForm::FrameSpeedButton2Click(TSpeedButton& Sender) {
  if (!Sender.Down()) return;
  SamplePanel->show();
  SampleImage->hide();
}

void TMainForm::FrameSpeedButton1Click(TSpeedButton& Sender) {
  if (!Sender.Down()) return;
  SamplePanel->hide();
  SampleImage->show();
}

void TMainForm::SampleImageMouseUp(TImage&, TMouseButton, TShiftState, int X, int Y) {
  FSampleOrigin = TPoint{X, Y};
  UpdateSamples(*FBitmap, FSampleOrigin);
}

void TMainForm::UpdateSamples(TBitmap& Bitmap, TPoint Origin) {
  if (Bitmap.Empty()) return;
  // A release after dragging out of the view reports a point outside the picture; the sample
  // then starts at the nearest pixel inside it, so it is never empty nor reaches outside.
  const std::int32_t x = std::clamp(Origin.X, 0, Bitmap.Width() - 1);
  const std::int32_t y = std::clamp(Origin.Y, 0, Bitmap.Height() - 1);

  TBitmap Sample;
  TBitmap Out;
  Sample.SetImageFormat(TPixelFormat::pf24bit);
  Out.SetImageFormat(TPixelFormat::pf24bit);
  // Magnified previews show a smaller sample from the same origin, in the same space.
  const std::int32_t side = SampleSize / FZoom;
  Sample.SetWidth(std::min(Bitmap.Width() - x, side));
  Sample.SetHeight(std::min(Bitmap.Height() - y, side));
  const std::int32_t w = Sample.Width();
  const std::int32_t h = Sample.Height();
  Sample.Canvas().CopyRectangle(TRect{0, 0, w, h}, Bitmap.Canvas(), TRect{x, y, x + w, y + h});

  const TImage::TAlphaPlane alpha = SampleAlpha(Bitmap, QRect(x, y, w, h));

  // Out is reused; each preview keeps its own copy of what Out held when it was handed over.
  for (const TFilterView& view : FilterViews()) {
    if (view.Filter->TakesLevels) continue;  // shown from the deep sample below
    if (view.Filter->Run(Sample, Out, FStrength)) {
      view.Preview->Picture().Assign(&Out);
      view.Preview->SetAlpha(alpha);
    } else {
      // A filter that refused (a strength it does not take, memory it could not have) shows an
      // empty preview, never the picture of the group before that Out still holds.
      view.Preview->Picture().Assign(static_cast<const TBitmap*>(nullptr));
    }
  }
  UpdateDeepSamples(Bitmap, x, y, w, h);
  SourceImage->Picture().Assign(&Sample);
  SourceImage->SetAlpha(alpha);
  // The full view outlines where the sample comes from, over the filtered rows too.
  SampleImage->SetMarkedRect(QRect(x, y, w, h));
  if (FFilteredImage != nullptr) FFilteredImage->SetMarkedRect(QRect(x, y, w, h));
}

void TMainForm::SaveFiltered(TFilterId Filter) {
  if (FBitmap->Empty()) {
    TellNothingToSave();
    return;
  }
  OfferPngForGreySaves(FilterEntry(Filter));
  if (const QString suggested = SuggestedSaveName(FilterEntry(Filter)); !suggested.isEmpty())
    SaveDialog1.SetFileName(suggested);
  if (!SaveDialog1.Execute()) return;
  QString fileName = SaveDialog1.FileName();
  const TPictureFormat* format = &SavedFormat(SaveDialog1);
  bool onWhite = false;
  // A bitmap keeps no alpha: the colours under transparent pixels, which the user never saw,
  // would land in the file. The user decides what the file holds instead.
  if (!format->Writer.KeepsAlpha && HasTransparency()) {
    const TPictureFormat& alphaFormat = AlphaKeepingFormat();
    switch (AskTransparentSave(NameFor(fileName, alphaFormat), alphaFormat)) {
      case TTransparentSave::AsAlphaKeeping:
        fileName = NameFor(fileName, alphaFormat);
        format = &alphaFormat;
        // The dialog asked about the name chosen there, not about this one.
        if (!MayReplace(fileName, true)) return;
        break;
      case TTransparentSave::OnWhite:
        onWhite = true;
        break;
      case TTransparentSave::Cancel:
        return;
    }
  }
  if (!MayReplace(fileName, false)) return;
  SaveFile(Filter, fileName, *format, onWhite);
}

void TMainForm::TellNothingToSave() {
  Application->ShowMessageBox(
      {QString::fromUtf8("保存する画像がありません。先に画像を開いてください"),
       Application->Title(), TMessageIcon::Information});
}

void TMainForm::OfferPngForGreySaves(const TFilterEntry& Filter) {
  // Grey output exists to make small grey files, which only PNG holds as grey.
  if (!Filter.TakesLevels || !GreyCheck->isChecked()) return;
  const std::vector<const TPictureFormat*> formats = SaveFormats();
  for (std::size_t i = 0; i < formats.size(); ++i) {
    if (formats[i]->Kind == TPictureKind::Png) SaveDialog1.SetFilterIndex(static_cast<int>(i) + 1);
  }
}

bool TMainForm::IsOpenPicture(const QString& FileName) const {
  if (FPictureName.isEmpty()) return false;
  const QFileInfo target(FileName);
  const QFileInfo picture(FPictureName);
  if (!target.exists() || !picture.exists()) return false;
  // Links and "." or ".." in a name lead to the same file.
  return target.canonicalFilePath() == picture.canonicalFilePath();
}

bool TMainForm::MayReplace(const QString& FileName, bool askAnyFile) {
  if (IsOpenPicture(FileName)) {
    // The picture shown stays in memory, but the file it came from would be gone for good.
    const QString text =
        QString::fromUtf8(
            "%1 は、いま開いている画像のファイルです。\n"
            "置き換えると、元の画像はフィルターをかけた画像になり、元に戻せません。\n"
            "置き換えますか?")
            .arg(QFileInfo(FileName).fileName());
    const QStringList buttons = {QString::fromUtf8("置き換える"), QString::fromUtf8("キャンセル")};
    return Application->AskMessageBox({text, Application->Title(), TMessageIcon::Warning}, buttons,
                                      1, 1) == 0;
  }
  if (askAnyFile && QFileInfo::exists(FileName)) return AskReplaceFile(FileName);
  return true;
}

QString TMainForm::SuggestedSaveName(const TFilterEntry& Filter) const {
  if (FPictureName.isEmpty()) return {};
  const QFileInfo picture(FPictureName);
  const QString last = SaveDialog1.FileName();
  const QString folder =
      last.contains(QLatin1Char('/')) ? QFileInfo(last).absolutePath() : picture.absolutePath();
  const TPictureFormat& format = ChosenSaveFormat(SaveDialog1);
  const QString name =
      picture.completeBaseName() + QLatin1Char('-') +
      QString::fromUtf8(Filter.Name.data(), static_cast<qsizetype>(Filter.Name.size())) +
      QLatin1Char('.') + QString::fromStdString(format.Extensions.front());
  return QDir(folder).filePath(name);
}

bool TMainForm::HasTransparency() const {
  const std::vector<std::uint8_t>& alpha = FExtras->Alpha;
  return std::any_of(alpha.begin(), alpha.end(), [](std::uint8_t a) { return a < 255; });
}

void TMainForm::SaveFile(TFilterId Filter, const QString& FileName, const TPictureFormat& Format,
                         bool OnWhite) {
  if (FBitmap->Empty()) return;
  RefuseUnwritten(Format);
  const TBusyCursor busy;
  // Blending needs one alpha value for every pixel; a picture without them has nothing to
  // blend. A format that keeps the alpha is never blended.
  const std::size_t pixels =
      static_cast<std::size_t>(FBitmap->Width()) * static_cast<std::size_t>(FBitmap->Height());
  const std::uint8_t* onWhite =
      OnWhite && !Format.Writer.KeepsAlpha && FExtras->Alpha.size() == pixels
          ? FExtras->Alpha.data()
          : nullptr;
  if (FilterEntry(Filter).TakesLevels) {
    SaveDeepFile(FilterEntry(Filter), FileName, Format, onWhite);
    return;
  }
  // One pass, band by band, from the picture held (read in place, never copied) straight into
  // the file: the save adds a few MiB, never a second picture. The file is replaced only once
  // every band is written; a filter that refuses has nothing worth writing, and says nothing.
  TBitmapRows rows(*FBitmap);
  std::optional<TOnWhiteRows> whiteRows;
  if (onWhite != nullptr) whiteRows.emplace(rows, onWhite);
  TRowSource& source = whiteRows ? static_cast<TRowSource&>(*whiteRows) : rows;
  const std::string name = FileSystemName(FileName);
  const std::uint8_t strength = FStrength;
  RunFileWork(name, [&] {
    const std::unique_ptr<TBandWriter> writer =
        Format.Writer.OpenBands(name, rows.Width(), rows.Height(), *FExtras, {});
    FilterInBands(&FilterEntry(Filter), strength, source, *writer);
  });
}

void TMainForm::SaveButtonClick(TSpeedButton& Sender) {
  for (const TFilterView& view : FilterViews())
    if (view.Save == &Sender) SaveFiltered(view.Filter->Id);
}

// clang-format off
void TMainForm::SavePatternDither4Click(TSpeedButton& Sender) { SaveButtonClick(Sender); }
void TMainForm::SavePatternDither16Click(TSpeedButton& Sender) { SaveButtonClick(Sender); }
void TMainForm::SaveDiffError64Click(TSpeedButton& Sender) { SaveButtonClick(Sender); }
void TMainForm::SaveDiffError32Click(TSpeedButton& Sender) { SaveButtonClick(Sender); }
void TMainForm::SaveDiffError16Click(TSpeedButton& Sender) { SaveButtonClick(Sender); }
void TMainForm::SaveDiffusionClick(TSpeedButton& Sender) { SaveButtonClick(Sender); }
void TMainForm::SaveOrderedClick(TSpeedButton& Sender) { SaveButtonClick(Sender); }
// clang-format on

void TMainForm::ApplyDeepLayout() {
  // Each hint says what the control changes; both change the two deep groups alone.
  LevelsLabel->setBuddy(LevelsEdit);
  LevelsEdit->setRange(kMinDeepLevels, kMaxDeepLevels);
  LevelsEdit->setValue(TDeepOptions{}.Levels);
  LevelsEdit->setToolTip(QString::fromUtf8("高精度誤差拡散とブルーノイズディザの階調数 (2～256)"));
  GreyCheck->setToolTip(QString::fromUtf8("高精度誤差拡散とブルーノイズディザをグレーで出力する"));
  // Every keystroke that makes a valid count shows its result at once.
  LevelsEdit->setKeyboardTracking(true);
  connect(LevelsEdit, &QSpinBox::valueChanged, this,
          [this] { Guarded(this, [this] { RefreshDeepSamples(); }); });
  connect(GreyCheck, &QCheckBox::toggled, this,
          [this] { Guarded(this, [this] { RefreshDeepSamples(); }); });
  ApplyLightLayout();
}

void TMainForm::ApplyLightLayout() {
  // Checked is linear light, the filters' default. Raised over the sample column, which may
  // reach up to the row below the toolbar's height.
  LightCheck->setChecked(TDeepOptions{}.Light == TDeepLight::Linear);
  LightCheck->setToolTip(
      QString::fromUtf8("高精度誤差拡散とブルーノイズディザの誤差を画面が出す光の強さで測る"
                        " (少ない階調でも明るさが変わらない。外すと画素の値で測る)"));
  LightCheck->raise();
  connect(LightCheck, &QCheckBox::toggled, this,
          [this] { Guarded(this, [this] { RefreshDeepSamples(); }); });
}

TDeepLight TMainForm::LightChoice() const {
  return LightCheck->isChecked() ? TDeepLight::Linear : TDeepLight::Encoded;
}

TDeepOptions TMainForm::DeepOptions() const {
  TDeepOptions options;
  options.Levels = LevelsEdit->value();
  options.Grey = GreyCheck->isChecked();
  options.Light = LightChoice();
  return options;
}

int TMainForm::LightFloor() const {
  // The first group's frame starts below the light check box.
  return LightCheck->geometry().bottom() + 1 - GroupBox7->y();
}

void TMainForm::PlaceDeepSamples() {
  // Level with the sample panel, wherever its centring (and the scroll box's frame) puts it, so
  // that the two rows of groups line up with its two rows; never over the controls above.
  const int top =
      SamplePanel->mapTo(this, QPoint(0, 0)).y() - DeepPanel->mapTo(this, QPoint(0, 0)).y();
  DeepSamplePanel->move(0, std::max({top, ToolBar1->height(), LightFloor()}));
}

void TMainForm::UpdateDeepSamples(const TBitmap& Bitmap, std::int32_t x, std::int32_t y,
                                  std::int32_t w, std::int32_t h) {
  // The deep picture belongs to the loaded picture only; any other picture (and an 8-bit file)
  // is widened exactly, v as v x 257, as the deep filters see every 8-bit picture.
  const bool deep = &Bitmap == FBitmap.get() && FDeep != nullptr && !FDeep->Empty() &&
                    FDeep->Width == Bitmap.Width() && FDeep->Height == Bitmap.Height();
  TDeepPicture sample;
  sample.Width = w;
  sample.Height = h;
  sample.Samples.resize(3 * static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  const std::size_t rowSamples = 3 * static_cast<std::size_t>(w);
  for (std::int32_t row = 0; row < h; ++row) {
    std::uint16_t* to = sample.Row(row);
    if (deep) {
      const std::uint16_t* from = FDeep->Row(y + row) + 3 * static_cast<std::size_t>(x);
      std::copy(from, from + rowSamples, to);
    } else {
      const std::uint8_t* from = Bitmap.ConstRowAddress(y + row) + 3 * static_cast<std::size_t>(x);
      WidenSamples(from, to, rowSamples);
    }
  }
  const TDeepOptions options = DeepOptions();
  const TImage::TAlphaPlane alpha = SampleAlpha(Bitmap, QRect(x, y, w, h));
  TBitmap Out;
  for (const TFilterView& view : FilterViews()) {
    if (!view.Filter->TakesLevels) continue;
    if (FilterDeepPicture(view.Filter->Id, sample, Out, options))
      view.Preview->Picture().Assign(&Out);
    view.Preview->SetAlpha(alpha);
  }
}

void TMainForm::RefreshDeepSamples() {
  if (FBitmap == nullptr || FBitmap->Empty()) return;
  // Every deep option reaches the filtered full view through DeepOptions.
  if (FViewFilter && FilterEntry(*FViewFilter).TakesLevels) RestartFilteredView();
  // The sample UpdateSamples cut last, cut again: the origin clamped the same way.
  const std::int32_t x = std::clamp(FSampleOrigin.X, 0, FBitmap->Width() - 1);
  const std::int32_t y = std::clamp(FSampleOrigin.Y, 0, FBitmap->Height() - 1);
  const std::int32_t side = SampleSize / FZoom;
  UpdateDeepSamples(*FBitmap, x, y, std::min(FBitmap->Width() - x, side),
                    std::min(FBitmap->Height() - y, side));
}

void TMainForm::SaveDeepFile(const TFilterEntry& Filter, const QString& FileName,
                             const TPictureFormat& Format, const std::uint8_t* OnWhite) {
  // Band by band from the picture held, at the precision its file had, as SaveFile does for
  // the five: the save adds a few MiB and the file is replaced only once every band is written.
  const TDeepOptions options = DeepOptions();
  TBitmapRows rows(*FBitmap);
  std::unique_ptr<TDeepRowSource> deepRows;
  if (!FDeep->Empty())
    deepRows = std::make_unique<TDeepPictureRows>(*FDeep);
  else
    deepRows = std::make_unique<TWidenedRows>(rows);
  std::optional<TDeepOnWhiteRows> whiteRows;
  if (OnWhite != nullptr) whiteRows.emplace(*deepRows, OnWhite);
  TDeepRowSource& source = whiteRows ? static_cast<TDeepRowSource&>(*whiteRows) : *deepRows;
  const std::string name = FileSystemName(FileName);
  RunFileWork(name, [&] {
    // Grey output is written as grey where the format stores it, at the smallest depth that
    // holds the levels exactly.
    TPictureWriteOptions written;
    if (options.Grey) written.GreyLevels = options.Levels;
    const std::unique_ptr<TBandWriter> writer =
        Format.Writer.OpenBands(name, deepRows->Width(), deepRows->Height(), *FExtras, written);
    FilterDeepInBands(Filter, options, source, *writer);
  });
}

void TMainForm::VersionInfoButtonClick(TSpeedButton&) {
  // Built anew for every press and destroyed however RunModal ends.
  const TFormPtr<TVersionForm> form = MakeForm<TVersionForm>();
  Application->RunModal(*form);
}

void TMainForm::EditButtonClick(TSpeedButton&) {
  Application->RequestQuit();
}

void TMainForm::RunFileWork(const std::string& fileName, const std::function<void()>& work) {
  try {
    RunLongWork(work);
  } catch (Exception& error) {
    // The box keeps the message as it is and says why on a line of its own, as the command line
    // does.
    if (error.Detail().empty()) error.SetDetail(FailureCauseLine(error, fileName));
    throw;
  }
}

void TMainForm::RunLongWork(const std::function<void()>& work) {
  // One at a time: nothing starts another while the window waits for this one.
  if (FWorking) throw EAbort(std::string());
  FWorking = true;
  struct TDone {
    bool& Working;
    ~TDone() { Working = false; }
  } done{FWorking};
  Application->RunWhilePainting(work);
}

void TMainForm::SetUpViewControls() {
  // Both stand over the wide separator's left end, so the buttons keep their places.
  FZoomBox = new TChoiceBox(ToolButton2);
  FZoomBox->setObjectName(QStringLiteral("ZoomBox"));
  FZoomBox->SetItems({QStringLiteral("等倍"), QStringLiteral("2倍"), QStringLiteral("4倍")});
  FZoomBox->SetItemIndex(0);
  FZoomBox->setGeometry(8, 0, 64, 22);
  FZoomBox->SetHint(QStringLiteral("表示の拡大率を切り替える"));
  FZoomBox->SetShowHint(true);
  FZoomBox->OnChange = [this](TChoiceBox& sender) { SetZoom(ZoomSteps[sender.ItemIndex()]); };

  FStrengthEdit = new TSpinEdit(ToolButton2);
  FStrengthEdit->setObjectName(QStringLiteral("StrengthEdit"));
  FStrengthEdit->SetBounds(0, 100);
  FStrengthEdit->SetValue(kFullStrength);
  FStrengthEdit->setPrefix(QStringLiteral("強さ "));
  FStrengthEdit->setGeometry(78, 0, 80, 22);
  FStrengthEdit->SetHint(QStringLiteral("誤差拡散フィルターの強さ (0～100)"));
  FStrengthEdit->SetShowHint(true);
  FStrengthEdit->OnChange = [this](TSpinEdit& sender) { SetStrength(sender.Value()); };

  for (QWidget* control : {static_cast<QWidget*>(FZoomBox), static_cast<QWidget*>(FStrengthEdit)})
    control->setFont(LayoutFont());
  FZoomBox->setAccessibleName(QStringLiteral("拡大率"));
  FZoomBox->setAccessibleDescription(FZoomBox->Hint());
  FStrengthEdit->setAccessibleName(QStringLiteral("強さ"));
  FStrengthEdit->setAccessibleDescription(FStrengthEdit->Hint());

  // As browsers take them: Ctrl++ (and Ctrl+=, the same key unshifted) and Ctrl+-, and the
  // keypad's + and -.
  const QKeySequence larger[] = {QKeySequence(Qt::CTRL | Qt::Key_Plus),
                                 QKeySequence(Qt::CTRL | Qt::Key_Equal),
                                 QKeySequence(Qt::KeypadModifier | Qt::Key_Plus)};
  const QKeySequence smaller[] = {QKeySequence(Qt::CTRL | Qt::Key_Minus),
                                  QKeySequence(Qt::KeypadModifier | Qt::Key_Minus)};
  for (const QKeySequence& keys : larger)
    AddShortcut(keys, [this] { ZoomBy(1); });
  for (const QKeySequence& keys : smaller)
    AddShortcut(keys, [this] { ZoomBy(-1); });
  FZoomBox->SetHintShortcut(larger[0].toString(QKeySequence::NativeText) + QStringLiteral(", ") +
                            smaller[0].toString(QKeySequence::NativeText));

  // Tab reaches them where they stand: after the open button.
  setTabOrder(OpenBuuton, FZoomBox);
  setTabOrder(FZoomBox, FStrengthEdit);
  setTabOrder(FStrengthEdit, FrameSpeedButton2);
}

void TMainForm::ZoomBy(int steps, std::optional<QPoint> anchor) {
  const auto* const begin = std::begin(ZoomSteps);
  const auto* const end = std::end(ZoomSteps);
  const auto* step = std::find(begin, end, FZoom);
  const long index =
      std::clamp<long>((step - begin) + steps, 0, static_cast<long>(std::size(ZoomSteps)) - 1);
  SetZoom(ZoomSteps[index], anchor);
}

void TMainForm::SetZoom(int zoom, std::optional<QPoint> anchor) {
  const auto* nearest =
      std::min_element(std::begin(ZoomSteps), std::end(ZoomSteps),
                       [zoom](int a, int b) { return std::abs(a - zoom) < std::abs(b - zoom); });
  const int old = FZoom;
  if (*nearest == old) return;
  FZoom = *nearest;
  FZoomBox->SetItemIndex(static_cast<int>(nearest - std::begin(ZoomSteps)));

  // The full view: the picture pixel under the anchor stays there.
  TControlScrollBar& horz = ScrollBox->HorzScrollBar();
  TControlScrollBar& vert = ScrollBox->VertScrollBar();
  const QPoint at = anchor.value_or(ScrollBox->Client()->rect().center());
  const bool full = SampleImage->isVisibleTo(ScrollBox->Client());
  // The view's own pixels per picture pixel, which at a fractional scale factor differ from
  // the zoom (TImage::DevicePixelsPerPixel).
  const double oldScale = SampleImage->Scale();
  const double pictureX = static_cast<double>(at.x() - SampleImage->x()) / oldScale;
  const double pictureY = static_cast<double>(at.y() - SampleImage->y()) / oldScale;
  SampleImage->SetZoom(FZoom);
  const double scale = SampleImage->Scale();
  PlaceFilteredRows();
  if (full) {
    horz.SetPosition(static_cast<std::int32_t>(std::lround(pictureX * scale)) - at.x());
    vert.SetPosition(static_cast<std::int32_t>(std::lround(pictureY * scale)) - at.y());
  }
  // Every group's preview, whichever groups the layout holds.
  SourceImage->SetZoom(FZoom);
  for (const TFilterView& view : FilterViews())
    view.Preview->SetZoom(FZoom);
  UpdateSamples(*FBitmap, FSampleOrigin);
}

void TMainForm::SetStrength(int strength) {
  const auto clamped = static_cast<std::uint8_t>(std::clamp(strength, 0, 100));
  if (FStrengthEdit->Value() != clamped) FStrengthEdit->SetValue(clamped);
  if (clamped == FStrength) return;
  FStrength = clamped;
  UpdateSamples(*FBitmap, FSampleOrigin);
  if (FViewFilter && FilterEntry(*FViewFilter).TakesStrength) RestartFilteredView();
}

void TMainForm::wheelEvent(QWheelEvent* event) {
  if (!event->modifiers().testFlag(Qt::ControlModifier)) {
    TForm::wheelEvent(event);
    return;
  }
  event->accept();
  FWheelRest += event->angleDelta().y();
  const int steps = FWheelRest / 120;
  if (steps == 0) return;
  FWheelRest -= steps * 120;
  const QPoint at = ScrollBox->Client()->mapFrom(this, event->position().toPoint());
  ZoomBy(steps, at);
}

void TMainForm::ShowTransparency() {
  // Shares the plane the picture came with: it lives in FExtras as long as this picture shows.
  const std::vector<std::uint8_t>& alpha = FExtras->Alpha;
  if (FBitmap->Empty() || alpha.size() != static_cast<std::size_t>(FBitmap->Width()) *
                                              static_cast<std::size_t>(FBitmap->Height())) {
    SampleImage->SetAlpha(nullptr);
    return;
  }
  SampleImage->SetAlpha(TImage::TAlphaPlane(std::shared_ptr<void>(), &alpha));
}

TImage::TAlphaPlane TMainForm::SampleAlpha(const TBitmap& Bitmap, QRect sample) const {
  const std::vector<std::uint8_t>& alpha = FExtras->Alpha;
  const auto width = static_cast<std::size_t>(Bitmap.Width());
  if (alpha.size() != width * static_cast<std::size_t>(Bitmap.Height())) return nullptr;
  auto part = std::make_shared<std::vector<std::uint8_t>>();
  part->reserve(static_cast<std::size_t>(sample.width()) *
                static_cast<std::size_t>(sample.height()));
  bool opaque = true;
  for (int y = sample.top(); y <= sample.bottom(); ++y) {
    const auto* row = alpha.data() + static_cast<std::size_t>(y) * width;
    for (int x = sample.left(); x <= sample.right(); ++x) {
      part->push_back(row[x]);
      opaque = opaque && row[x] == 255;
    }
  }
  if (opaque) return nullptr;
  return part;
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (DraggedFile(event->mimeData())) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const std::optional<QString> file = DraggedFile(event->mimeData());
  if (!file) return;
  event->acceptProposedAction();
  // Opened once the drop is over: the error box of a bad file must not open while the
  // desktop's drag-and-drop exchange still waits for our answer.
  OpenFileLater(*file);
}

void TMainForm::OpenFileLater(const QString& FileName) {
  QMetaObject::invokeMethod(
      this,
      [this, FileName] {
        // An open or save under way finishes first.
        if (FWorking) {
          QTimer::singleShot(50, this, [this, FileName] { OpenFileLater(FileName); });
          return;
        }
        Guarded(this, [&] {
          OpenDialog1.SetFileName(FileName);
          OpenFile(FileName);
        });
      },
      Qt::QueuedConnection);
}

// ---- The full view through a filter, the flip, the sample moved by the keyboard ----

void TMainForm::SetUpFilteredView() {
  FFilteredView = std::make_unique<TFilteredView>(
      [this](std::int32_t rows) { Guarded(this, [&] { FilteredRowsDone(rows); }); },
      [this](std::exception_ptr error) { Guarded(this, [&] { FilteredViewFailed(error); }); });

  // Over the full view, the same size and zoom, showing the filtered rows done so far; clicks go
  // through to the full view underneath. Only rows that are new are painted as it grows.
  FFilteredImage = new TImage(SampleImage);
  FFilteredImage->setObjectName(QStringLiteral("FilteredImage"));
  FFilteredImage->setAttribute(Qt::WA_TransparentForMouseEvents);
  FFilteredImage->setAttribute(Qt::WA_StaticContents);
  FFilteredImage->SetAutoSize(false);
  FFilteredImage->setGeometry(0, 0, 0, 0);
  FFilteredImage->hide();

  // The list: the unfiltered picture (原画), then every filter in the table's order, each by its
  // group's caption.
  QStringList items = {QStringLiteral("原画")};
  for (const TFilterEntry& filter : FilterTable())
    items.append(
        QString::fromUtf8(filter.Caption.data(), static_cast<qsizetype>(filter.Caption.size())));
  FViewBox = new TChoiceBox(ToolButton2);
  FViewBox->setObjectName(QStringLiteral("ViewBox"));
  FViewBox->SetItems(items);
  FViewBox->SetItemIndex(0);
  FViewBox->setGeometry(164, 0, 136, 22);
  FViewBox->SetHint(
      QStringLiteral("画像全体の表示: 原画か、フィルターをかけた画像全体 "
                     "(グループの見出しのクリックでも選べます)"));
  FViewBox->SetShowHint(true);
  FViewBox->OnChange = [this](TChoiceBox& sender) {
    const int index = sender.ItemIndex();
    if (index <= 0) {
      SetViewFilter(std::nullopt);
    } else {
      SetViewFilter(FilterTable()[static_cast<std::size_t>(index - 1)].Id);
    }
  };
  FViewBox->setFont(LayoutFont());
  FViewBox->setAccessibleName(QStringLiteral("表示する画像"));
  FViewBox->setAccessibleDescription(FViewBox->Hint());

  // The flip: down while the unfiltered picture shows in place of the filtered picture.
  FFlipButton = new TFrameSpeedButton(ToolButton2);
  FFlipButton->setObjectName(QStringLiteral("FlipButton"));
  FFlipButton->setGeometry(304, 0, 23, 22);
  FFlipButton->SetFlat(true);
  FFlipButton->SetShowHint(true);
  FFlipButton->SetHint(
      QStringLiteral("フィルターをかけた画像と原画を切り替える (O キーを押している間は原画)"));
  TBitmap glyph;
  LoadPicture(glyph, Pictures::Compare);
  FFlipButton->SetGlyph(&glyph);
  FFlipButton->SetNumGlyphs(1);
  FFlipButton->SetGroupIndex(2);
  FFlipButton->SetAllowAllUp(true);
  FFlipButton->Loaded();
  FFlipButton->SetTabStop(true);
  FFlipButton->setAccessibleName(QStringLiteral("原画と切り替え"));
  FFlipButton->setAccessibleDescription(FFlipButton->Hint());
  FFlipButton->OnClick = [this](TSpeedButton& sender) { SetShowOriginal(sender.Down()); };
  const QKeySequence flip(Qt::SHIFT | FlipKey);
  FFlipButton->SetHintShortcut(flip.toString(QKeySequence::NativeText));
  AddShortcut(flip, [this] { SetShowOriginal(!FShowOriginal); });

  // The full view (and the sample panel in its place) takes the focus: Tab reaches it after the
  // toolbar, a click in it gives it the focus, and its keys move the sample and scroll.
  ScrollBox->SetTabStop(true);
  ScrollBox->setAccessibleName(QStringLiteral("表示"));
  ScrollBox->OnKeyDown = [this](TScrollBox&, int& key, Qt::KeyboardModifiers modifiers) {
    bool used = false;
    ArrowKey(key, modifiers, used);
    if (used) key = 0;
  };
  setTabOrder(FStrengthEdit, FViewBox);
  setTabOrder(FViewBox, FFlipButton);
  setTabOrder(FFlipButton, FrameSpeedButton2);
  setTabOrder(EditButton, ScrollBox);
  setTabOrder(ScrollBox, SavePatternDither4);

  for (const TFilterView& view : FilterViews())
    view.Group->installEventFilter(this);
  PlaceFilteredRows();
}

void TMainForm::SetViewFilter(std::optional<TFilterId> filter) {
  const int index = filter ? static_cast<int>(&FilterEntry(*filter) - FilterTable().data()) + 1 : 0;
  if (FViewBox->ItemIndex() != index) FViewBox->SetItemIndex(index);
  // A filter chosen is to be seen: the full view shows.
  if (filter && !FrameSpeedButton1->Down()) FrameSpeedButton1->Press();
  if (filter == FViewFilter) return;
  FViewFilter = filter;
  RestartFilteredView();
}

void TMainForm::RestartFilteredView() {
  if (FFilteredView == nullptr) return;
  // The rows of the work before are hidden before the new work writes over them.
  FFilteredView->Stop();
  FFilteredImage->resize(FFilteredImage->width(), 0);
  if (!FViewFilter || FBitmap == nullptr || FBitmap->Empty()) {
    ReleaseFilteredView();
    return;
  }
  // A filtered picture of another size goes before the new one is made.
  if (const TBitmap* shown = FFilteredImage->Picture().Bitmap();
      shown != nullptr &&
      (shown->Width() != FBitmap->Width() || shown->Height() != FBitmap->Height())) {
    FFilteredImage->Picture().Assign(static_cast<const TBitmap*>(nullptr));
  }
  FFilteredView->Start(*FBitmap, FDeep.get(),
                       {&FilterEntry(*FViewFilter), FStrength, DeepOptions()});
  PlaceFilteredRows();
}

void TMainForm::ReleaseFilteredView() {
  if (FFilteredView == nullptr) return;
  FFilteredView->Release();
  FFilteredImage->Picture().Assign(static_cast<const TBitmap*>(nullptr));
  PlaceFilteredRows();
}

void TMainForm::FilteredRowsDone(std::int32_t) {
  const TBitmap& picture = FFilteredView->Picture();
  const TBitmap* shown = FFilteredImage->Picture().Bitmap();
  if (shown == nullptr || &shown->Image() != &picture.Image()) {
    // Shares the rows being made: nothing is copied, the rows written later show as they come.
    FFilteredImage->Picture().Assign(&picture);
    const std::vector<std::uint8_t>& alpha = FExtras->Alpha;
    if (alpha.size() ==
        static_cast<std::size_t>(picture.Width()) * static_cast<std::size_t>(picture.Height())) {
      FFilteredImage->SetAlpha(TImage::TAlphaPlane(std::shared_ptr<void>(), &alpha));
    }
  }
  PlaceFilteredRows();
}

void TMainForm::FilteredViewFailed(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EOutOfMemory&) {
    ReleaseFilteredView();
    FViewFilter.reset();
    FViewBox->SetItemIndex(0);
    PlaceFilteredRows();
    FrameSpeedButton2->Press();
    Application->ShowMessageBox(
        {QString::fromUtf8("メモリが足りないため、フィルターをかけた画像全体は表示できません。"
                           "サンプルで確かめてください"),
         Application->Title(), TMessageIcon::Warning});
  }
}

bool TMainForm::FilteredPictureShown() const {
  return FViewFilter.has_value() && !FShowOriginal && !FPeeking;
}

void TMainForm::SetShowOriginal(bool original) {
  if (FFlipButton->Down() != original) FFlipButton->SetDown(original);
  FShowOriginal = original;
  PlaceFilteredRows();
}

void TMainForm::PlaceFilteredRows() {
  if (FFilteredImage == nullptr) return;
  FFilteredImage->SetZoom(FZoom);
  const std::int32_t rows = FViewFilter ? FFilteredView->DoneRows() : 0;
  const TBitmap* shown = FFilteredImage->Picture().Bitmap();
  // Only the rows done, row for row over the unfiltered picture's, in the same control pixels per
  // picture pixel (TImage::Scale) as the unfiltered picture's view.
  const QRect covered =
      shown != nullptr ? FFilteredImage->ControlRectOf(QRect(0, 0, shown->Width(), rows)) : QRect();
  const int before = FFilteredImage->height();
  FFilteredImage->resize(covered.isEmpty() ? 0 : covered.right() + 1,
                         covered.isEmpty() ? 0 : covered.bottom() + 1);
  // At a fractional scale factor the control's last pixel row can reach a device row of the
  // first picture row not yet done; the static contents keep what was painted there, so the
  // rows along the old bottom are painted again now that they are done.
  if (FFilteredImage->height() > before)
    FFilteredImage->update(0, std::max(0, before - 2), FFilteredImage->width(),
                           FFilteredImage->height() - std::max(0, before - 2));
  FFilteredImage->setVisible(FilteredPictureShown() && rows > 0 && shown != nullptr);
  FFlipButton->setEnabled(FViewFilter.has_value());
}

void TMainForm::MoveSample(int dx, int dy) {
  if (FBitmap->Empty()) return;
  const std::int32_t side = SampleSize / FZoom;
  const auto along = [side](std::int32_t at, int by, std::int32_t length) {
    at = std::clamp(at, 0, length - 1);
    const std::int32_t last = std::max(length - side, 0);  // the whole sample still fits
    if (by > 0) return at >= last ? at : std::min(at + by, last);
    return std::max(at + by, 0);
  };
  FSampleOrigin = TPoint{along(FSampleOrigin.X, dx, FBitmap->Width()),
                         along(FSampleOrigin.Y, dy, FBitmap->Height())};
  UpdateSamples(*FBitmap, FSampleOrigin);
  if (SampleImage->isVisibleTo(ScrollBox->Client())) ScrollSampleIntoView();
}

void TMainForm::ScrollSampleIntoView() {
  const QRect frame = SampleImage->MarkedRect();
  if (frame.isEmpty()) return;
  const QRect client = ScrollBox->Client()->rect();
  const QRect on = SampleImage->ControlRectOf(frame).translated(SampleImage->pos());
  const auto shift = [](int low, int high, int clientLength) {
    if (low < 0) return low;
    if (high > clientLength) return std::min(high - clientLength, low);
    return 0;
  };
  TControlScrollBar& horz = ScrollBox->HorzScrollBar();
  TControlScrollBar& vert = ScrollBox->VertScrollBar();
  horz.SetPosition(horz.Position() + shift(on.left(), on.right() + 1, client.width()));
  vert.SetPosition(vert.Position() + shift(on.top(), on.bottom() + 1, client.height()));
}

void TMainForm::ArrowKey(int key, Qt::KeyboardModifiers modifiers, bool& used) {
  const Qt::KeyboardModifiers others = modifiers & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  if (others != Qt::NoModifier) return;
  const int step = modifiers.testFlag(Qt::ShiftModifier) ? SampleSize / FZoom : SampleStep;
  switch (key) {
    case Qt::Key_Left:
      MoveSample(-step, 0);
      break;
    case Qt::Key_Right:
      MoveSample(step, 0);
      break;
    case Qt::Key_Up:
      MoveSample(0, -step);
      break;
    case Qt::Key_Down:
      MoveSample(0, step);
      break;
    default:
      return;
  }
  used = true;
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
  // Keys no control took: from a button, the panel or the full view.
  bool used = false;
  ArrowKey(event->key(), event->modifiers(), used);
  if (!used && event->key() == FlipKey && event->modifiers() == Qt::NoModifier) {
    used = true;
    if (!event->isAutoRepeat() && !FPeeking) {
      FPeeking = true;
      PlaceFilteredRows();
    }
  }
  if (used) {
    event->accept();
    return;
  }
  TForm::keyPressEvent(event);
}

void TMainForm::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == FlipKey && !event->isAutoRepeat()) {
    event->accept();
    if (FPeeking) {
      FPeeking = false;
      PlaceFilteredRows();
    }
    return;
  }
  TForm::keyReleaseEvent(event);
}

void TMainForm::changeEvent(QEvent* event) {
  TForm::changeEvent(event);
  // A key let go while another window had the keyboard never reaches this one.
  if (event->type() == QEvent::ActivationChange && !isActiveWindow() && FPeeking) {
    FPeeking = false;
    PlaceFilteredRows();
  }
}

bool TMainForm::OnGroupTitle(const TFilterView& view, QPoint point) {
  // The title: the strip above the preview's frame.
  const int top = view.Preview->mapTo(view.Group, QPoint(0, 0)).y() - 2;
  return point.y() < top && view.Group->rect().contains(point);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  const bool release = event->type() == QEvent::MouseButtonRelease;
  if (!release && event->type() != QEvent::ToolTip) return TForm::eventFilter(watched, event);
  for (const TFilterView& view : FilterViews()) {
    if (view.Group != watched) continue;
    if (release) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton || !OnGroupTitle(view, mouse->position().toPoint()))
        return false;
      Guarded(this, [&] { SetViewFilter(view.Filter->Id); });
      // Taken here: left to go on, the release would reach the full view now shown under the
      // pointer (the scroll box hands a release to the image under it) and move the sample there.
      return true;
    }
    // The title says what a click on it does; the rest of the group keeps its own hints.
    const auto* help = static_cast<QHelpEvent*>(event);
    if (!OnGroupTitle(view, help->pos())) return false;
    QToolTip::showText(help->globalPos(), GroupTitleHint(), view.Group);
    return true;
  }
  return false;
}

QString GroupTitleHint() {
  return QStringLiteral("クリックすると、このフィルターをかけた画像全体を表示する");
}

}  // namespace penamo
