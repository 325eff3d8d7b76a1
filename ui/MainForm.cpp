#include "MainForm.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <optional>

#include "Application.h"
#include "BandFilter.h"
#include "BitmapBandWriter.h"
#include "LayoutFont.h"
#include "PictureFile.h"
#include "Pictures.h"
#include "PngWriter.h"
#include "RowSource.h"
#include "VersionForm.h"

namespace penamo {

TMainForm* MainForm = nullptr;

namespace {

constexpr const char* BitmapFilter = "Bitmap(*.bmp)|*.bmp";
constexpr const char* PngFilter = "PNG(*.png)|*.png";
// The save dialog's entries, 1-based as the dialog counts them.
constexpr int PngFilterIndex = 2;

// The open dialog's entries: every picture the tool reads first, then the bitmap entry, then
// one entry per other format.
QString OpenFilter() {
  QStringList all, entries;
  for (const TPictureFormat& format : PictureFormats()) {
    QStringList patterns;
    for (const std::string& extension : format.Extensions)
      patterns.append(QStringLiteral("*.") + QString::fromStdString(extension));
    all.append(patterns);
    if (format.Kind == TPictureKind::Bitmap) continue;
    const QString joined = patterns.join(QLatin1Char(';'));
    entries.append(QString::fromUtf8(format.Name) + QLatin1Char('(') + joined +
                   QStringLiteral(")|") + joined);
  }
  const QString everything = all.join(QLatin1Char(';'));
  return QStringLiteral("画像ファイル(") + everything + QStringLiteral(")|") + everything +
         QLatin1Char('|') + QString::fromUtf8(BitmapFilter) + QLatin1Char('|') +
         entries.join(QLatin1Char('|'));
}

// The save writes PNG when its PNG entry was chosen or a .png name typed; a bitmap otherwise.
bool SavesPng(const TSaveDialog& dialog) {
  return dialog.FilterIndex() == PngFilterIndex ||
         dialog.FileName().endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
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

std::vector<TMainForm::TFilterView> TMainForm::FilterViews() const {
  // The sample groups in the table's order.
  QGroupBox* const groups[] = {GroupBox1, GroupBox2, GroupBox6, GroupBox3, GroupBox4};
  TImage* const previews[] = {PatternDither4, PatternDither16, DiffError64, DiffError32,
                              DiffError16};
  TFrameSpeedButton* const saves[] = {SavePatternDither4, SavePatternDither16, SaveDiffError64,
                                      SaveDiffError32, SaveDiffError16};
  std::vector<TFilterView> views;
  std::size_t i = 0;
  for (const TFilterEntry& filter : FilterTable()) {
    // The filters for deep pictures have no sample group.
    if (filter.TakesLevels) continue;
    views.push_back({&filter, groups[i], previews[i], saves[i]});
    ++i;
  }
  return views;
}

TMainForm::TMainForm(QWidget* parent) : TForm(parent) {
  setupUi(this);
  ApplyLayout();
  OnCreate = [this](TCustomForm& sender) { FormCreate(sender); };
  OnDestroy = [this](TCustomForm& sender) { FormDestroy(sender); };
  OnResize = [this](TCustomForm& sender) { FormResize(sender); };
  ToolBar1->OnResize = [this](TToolBar& sender) { ToolBar1Resize(sender); };
  OpenBuuton->OnClick = [this](TSpeedButton& sender) { OpenBuutonClick(sender); };
  FrameSpeedButton2->OnClick = [this](TSpeedButton& sender) { FrameSpeedButton2Click(sender); };
  FrameSpeedButton1->OnClick = [this](TSpeedButton& sender) { FrameSpeedButton1Click(sender); };
  SampleImage->OnMouseUp = [this](TImage& sender, TMouseButton button, TShiftState shift, int x,
                                  int y) { SampleImageMouseUp(sender, button, shift, x, y); };
  SavePatternDither4->OnClick = [this](TSpeedButton& sender) { SavePatternDither4Click(sender); };
  SavePatternDither16->OnClick = [this](TSpeedButton& sender) { SavePatternDither16Click(sender); };
  SaveDiffError64->OnClick = [this](TSpeedButton& sender) { SaveDiffError64Click(sender); };
  SaveDiffError32->OnClick = [this](TSpeedButton& sender) { SaveDiffError32Click(sender); };
  SaveDiffError16->OnClick = [this](TSpeedButton& sender) { SaveDiffError16Click(sender); };
  VersionInfoButton->OnClick = [this](TSpeedButton& sender) { VersionInfoButtonClick(sender); };
  EditButton->OnClick = [this](TSpeedButton& sender) { EditButtonClick(sender); };
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
  SaveDialog1.SetFilter(QString::fromUtf8(BitmapFilter) + QLatin1Char('|') +
                        QString::fromUtf8(PngFilter));
  SaveDialog1.SetDefaultExt(QStringLiteral("bmp"));
}

void TMainForm::FormCreate(TCustomForm&) {
  FBitmap = std::make_unique<TBitmap>();
  FExtras = std::make_unique<TPictureExtras>();
}

void TMainForm::FormDestroy(TCustomForm&) {
  FBitmap.reset();
  FExtras.reset();
}

void TMainForm::FormResize(TCustomForm&) {
  // Outer sizes; the division truncates toward zero, so a box smaller than the panel gives
  // negative offsets and the panel reaches past its top-left edges.
  const int left = (ScrollBox->width() - SamplePanel->width()) / 2;
  const int top = (ScrollBox->height() - SamplePanel->height()) / 2;
  SamplePanel->move(left, top);
}

void TMainForm::ToolBar1Resize(TToolBar& Sender) {
  // Keeps the buttons after the separator against the toolbar's right end.
  ToolButton2->resize(Sender.width() - 135, ToolButton2->height());
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
  ReadPicture(FileSystemName(FileName), loaded, extras);
  FBitmap->ShareFrom(&loaded);
  *FExtras = std::move(extras);
  SampleImage->Picture().Assign(FBitmap.get());
  FSampleOrigin = TPoint{0, 0};
  UpdateSamples(*FBitmap, FSampleOrigin);
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
  Sample.SetWidth(std::min(Bitmap.Width() - x, SampleSize));
  Sample.SetHeight(std::min(Bitmap.Height() - y, SampleSize));
  const std::int32_t w = Sample.Width();
  const std::int32_t h = Sample.Height();
  Sample.Canvas().CopyRectangle(TRect{0, 0, w, h}, Bitmap.Canvas(), TRect{x, y, x + w, y + h});

  // Out is reused; each preview keeps its own copy of what Out held when it was handed over.
  for (const TFilterView& view : FilterViews()) {
    view.Filter->Run(Sample, Out, kFullStrength);
    view.Preview->Picture().Assign(&Out);
  }
  SourceImage->Picture().Assign(&Sample);
}

void TMainForm::SaveFiltered(TFilterId Filter) {
  if (FBitmap->Empty()) return;
  if (!SaveDialog1.Execute()) return;
  SaveFile(Filter, SaveDialog1.FileName(), SavesPng(SaveDialog1));
}

void TMainForm::SaveFile(TFilterId Filter, const QString& FileName, bool Png) {
  if (FBitmap->Empty()) return;
  const TBusyCursor busy;
  // One pass, band by band, from the picture held (read in place, never copied) straight into
  // the file: the save adds a few MiB, never a second picture. The file is replaced only once
  // every band is written; a filter that refuses has nothing worth writing, and says nothing.
  TBitmapRows rows(*FBitmap);
  const std::string name = FileSystemName(FileName);
  std::unique_ptr<TBandWriter> writer;
  if (Png) {
    writer = CreatePngWriter(name, rows.Width(), rows.Height(), *FExtras);
  } else {
    writer = std::make_unique<TBitmapBandWriter>(name, rows.Width(), rows.Height());
  }
  FilterInBands(&FilterEntry(Filter), kFullStrength, rows, *writer);
}

void TMainForm::SavePatternDither4Click(TSpeedButton&) {
  SaveFiltered(TFilterId::PatternDither4);
}

void TMainForm::SavePatternDither16Click(TSpeedButton&) {
  SaveFiltered(TFilterId::PatternDither16);
}

void TMainForm::SaveDiffError64Click(TSpeedButton&) {
  SaveFiltered(TFilterId::DiffError64);
}

void TMainForm::SaveDiffError32Click(TSpeedButton&) {
  SaveFiltered(TFilterId::DiffError32);
}

void TMainForm::SaveDiffError16Click(TSpeedButton&) {
  SaveFiltered(TFilterId::DiffError16);
}

void TMainForm::VersionInfoButtonClick(TSpeedButton&) {
  // Built anew for every press and destroyed however RunModal ends.
  const TFormPtr<TVersionForm> form = MakeForm<TVersionForm>();
  Application->RunModal(*form);
}

void TMainForm::EditButtonClick(TSpeedButton&) {
  Application->RequestQuit();
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
        Guarded(this, [&] {
          OpenDialog1.SetFileName(FileName);
          OpenFile(FileName);
        });
      },
      Qt::QueuedConnection);
}

}  // namespace penamo
