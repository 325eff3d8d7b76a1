// The main window: opens a picture file, shows a sample of it through the five luma-reduction
// filters side by side (or the whole picture, where a click picks the sample), and saves the whole
// picture through any one filter.
#pragma once

#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "Bitmap.h"
#include "ChoiceBox.h"
#include "DeepLevels.h"
#include "DeepRowSource.h"
#include "Dialogs.h"
#include "FilterTable.h"
#include "FilteredView.h"
#include "Form.h"
#include "FrameSpeedButton.h"
#include "Image.h"
#include "PictureExtras.h"
#include "PictureKind.h"
#include "ScrollBox.h"
#include "SpinEdit.h"
#include "ToolBar.h"
#include "ui_MainForm.h"

class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QWheelEvent;

namespace penamo {

// The caption of the window and the application's title.
inline constexpr const char* ProgramTitle = "グラデーション・スムージング「ぺなも」";
// The largest sample the previews show, in each direction.
inline constexpr std::int32_t SampleSize = 128;

// The hint a sample group's title shows: a click there shows the whole picture through the
// group's filter.
QString GroupTitleHint();

class TMainForm : public TForm, private Ui::MainForm {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // Cuts a sample of at most SampleSize x SampleSize pixels from `Bitmap` at `Origin` and shows
  // it, unfiltered and through each filter, in the six previews. Nothing happens for an empty
  // picture. An origin outside the picture is taken as the nearest pixel inside it.
  void UpdateSamples(TBitmap& Bitmap, TPoint Origin);

  // Opens a picture file (any format the tool reads) the way the open command does once a name
  // is chosen.
  void OpenFile(const QString& FileName);
  // The same, and the next open dialog starts where the file lies, as after choosing it; done
  // when the event loop comes to it, after whatever already waits (the window's first showing,
  // the desktop's drop exchange). An error is shown in a box, as for the open command.
  void OpenFileLater(const QString& FileName);
  // Saves the loaded picture through one filter the way a save command does once a name is
  // chosen: band by band, adding a few MiB to what the window holds. Nothing happens for an
  // empty picture. Format: the kind written (a PNG keeps the picture's alpha and colour
  // profile, a bitmap is 24-bit); a kind only read is refused. OnWhite (formats that keep no
  // alpha only): the picture is filtered as it looks over white, its alpha blended away,
  // instead of from the colours its transparent pixels hide.
  void SaveFile(TFilterId Filter, const QString& FileName,
                const TPictureFormat& Format = PictureFormatOf(TPictureKind::Bitmap),
                bool OnWhite = false);

  // The level count and grey output the deep filters' previews and saves use, as the window's
  // controls have them.
  TDeepOptions DeepOptions() const;

  // The loaded picture (empty until a file was opened) and the sample's top-left pixel.
  const TBitmap& Bitmap() const { return *FBitmap; }
  // The loaded picture at its full precision when its file holds more than 8 bits a sample;
  // empty otherwise (the deep filters then see Bitmap widened exactly).
  const TDeepPicture& DeepBitmap() const { return *FDeep; }
  TPoint SampleOrigin() const { return FSampleOrigin; }

  // The magnification of the previews and of the full view: 1, 2 or 4 (ZoomSteps). At 2 and 4
  // the previews show a 64 x 64 or 32 x 32 sample from the same origin, each pixel a 2 x 2 or
  // 4 x 4 block, in previews of the same size. Another value takes the nearest step. The full
  // view keeps the picture pixel at `anchor` (a point of the scroll box's client area; its
  // centre by default) where it was.
  int Zoom() const { return FZoom; }
  void SetZoom(int zoom, std::optional<QPoint> anchor = std::nullopt);
  // `steps` steps up (above 0) or down (below 0), as far as the steps go.
  void ZoomBy(int steps, std::optional<QPoint> anchor = std::nullopt);
  static constexpr int ZoomSteps[] = {1, 2, 4};

  // The strength of the three diffusions, 0 to 100 (kFullStrength, the start), in the previews
  // and the saves; values outside are brought inside.
  std::uint8_t Strength() const { return FStrength; }
  void SetStrength(int strength);

  // What the full view shows: the unfiltered picture (no filter, the start) or the whole picture
  // through one filter at the strength, level count and grey in force, chosen in the toolbar's list
  // or by a click on a group's title. The picture is filtered in the background by the band filter
  // a save uses, so its pixels are the saved file's; its rows appear as they are done, the
  // unfiltered picture still showing below them, and the work starts again whenever the picture,
  // the filter or a setting changes. Choosing a filter shows the full view. A picture too large to
  // be held twice is told so and the full view keeps to the unfiltered picture.
  std::optional<TFilterId> ViewFilter() const { return FViewFilter; }
  void SetViewFilter(std::optional<TFilterId> filter);
  // The filtered picture as far as it is done: rows 0 .. FilteredRows() - 1; Complete when every
  // row is (always false while the full view shows the unfiltered picture).
  const TBitmap& FilteredPicture() const { return FFilteredView->Picture(); }
  std::int32_t FilteredRows() const { return FFilteredView->DoneRows(); }
  bool FilteredViewComplete() const { return FViewFilter && FFilteredView->Complete(); }
  // Showing the unfiltered picture in place of the filtered picture, for good (the toolbar's flip
  // button, Shift+O) or while O is held (FlipKey); the scroll position, the zoom and the sample's
  // frame stay as they are.
  bool ShowsOriginal() const { return FShowOriginal; }
  void SetShowOriginal(bool original);
  bool FilteredPictureShown() const;
  static constexpr Qt::Key FlipKey = Qt::Key_O;

  // Moves the sample by (dx, dy) picture pixels and shows it at once: not past the picture's
  // left and top edges, and not further right or down than where the whole sample (SampleSize /
  // Zoom pixels) still fits, unless a click put it further already. The arrow keys move it by
  // SampleStep, with Shift by a whole sample; in the full view the frame is scrolled into sight.
  void MoveSample(int dx, int dy);
  static constexpr int SampleStep = 8;

 protected:
  // A picture file dropped on the window opens as if chosen in the open dialog.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Ctrl+wheel zooms, about the picture pixel under the pointer in the full view.
  void wheelEvent(QWheelEvent* event) override;
  // The arrow keys move the sample; FlipKey held shows the unfiltered picture.
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  // A click on a group's title chooses its filter for the full view.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Tests reach the layout's widgets, the dialogs and the handlers through it.
  friend struct TMainFormTestAccess;

  // One filter's sample group: its table row, the group, its preview and its save button, and
  // the button's handler. The stored layout's own where it holds the row's group (found by the
  // row's Ident), else a group the window builds like them.
  using TSaveHandler = void (TMainForm::*)(TSpeedButton&);
  struct TFilterView {
    const TFilterEntry* Filter;
    QGroupBox* Group;
    TImage* Preview;
    TFrameSpeedButton* Save;
    TSaveHandler SaveClick;
  };
  // The sample groups in the filter table's order.
  const std::vector<TFilterView>& FilterViews() const { return FViews; }
  std::vector<TFilterView> FViews;
  // Gives every row of the filter table its group, from the stored layout or built, and checks
  // the layout's groups against the table (CheckSampleGroups).
  void BindFilterGroups();
  // A group for a row the stored layout does not hold, with the look, sizes and spacing of the
  // layout's, in the row's column after the groups already there.
  TFilterView BuildFilterGroup(const TFilterEntry& filter);
  // The handler of the stored layout's of that name ("SavePatternDither4Click"), or null: the
  // layout binds its buttons' clicks by name, as it names its widgets.
  static TSaveHandler PublishedSaveHandler(std::string_view name);
  // Throws std::logic_error unless the groups (the filters a column's groups show, in the order
  // they stand there) show filters of the table, each its own, in the table's order: the keys,
  // Tab and the full view's list follow the table, and must follow what the eye sees.
  static void CheckSampleGroups(std::span<const TFilterId> groups,
                                std::span<const TFilterEntry> filters);
  // Whether point (in the group's coordinates) lies on the group's title, where a click chooses
  // the group's filter for the full view.
  static bool OnGroupTitle(const TFilterView& view, QPoint point);

  // The parts of the stored layout that the layout file cannot say, and the handlers' wiring.
  void ApplyLayout();
  // Asks for a file name and saves the picture through the filter there.
  void SaveFiltered(TFilterId Filter);
  // The name the save dialog offers: the picture's own base name, a dash, the filter's
  // command-line name and the extension of the dialog's entry, in the folder of the last save
  // (the picture's own before any). Empty when the picture came from no file.
  QString SuggestedSaveName(const TFilterEntry& Filter) const;
  // Whether the loaded picture has a pixel of alpha below 255.
  bool HasTransparency() const;
  // A save with no picture open says so in a box, instead of doing nothing.
  void TellNothingToSave();
  // A deep filter's save with grey output on selects the dialog's PNG entry before it opens.
  void OfferPngForGreySaves(const TFilterEntry& Filter);
  // Whether FileName is the file the open picture came from (the same file by any name).
  bool IsOpenPicture(const QString& FileName) const;
  // Asks before a save replaces the open picture's file, naming it; with askAnyFile, also before
  // it replaces any other existing file (for a name the save dialog did not ask about). True
  // when the save may go ahead.
  bool MayReplace(const QString& FileName, bool askAnyFile);

  // The keyboard: Tab stops with a visible focus on every button, the window's shortcuts
  // (shown in the buttons' tooltips) and the buttons' accessible names and descriptions.
  void SetUpKeyboard();

  // Reads or writes a file on a thread of its own while the window goes on painting (the busy
  // cursor stays, keys and clicks wait); an error in it is raised here. Work already under
  // way makes this a silent EAbort.
  void RunLongWork(const std::function<void()>& work);
  bool FWorking = false;
  // RunLongWork for reading or writing the file fileName (as the system names it): an error adds
  // the cause line (FailureCauseLine) under its message.
  void RunFileWork(const std::string& fileName, const std::function<void()>& work);

  // The toolbar's zoom and strength controls, and the zoom keys.
  void SetUpViewControls();
  // The full view's opacity plane: the open picture's own, when it has one.
  void ShowTransparency();
  // The sample's opacity, cut from the picture's at the sample's place; null when opaque.
  TImage::TAlphaPlane SampleAlpha(const TBitmap& Bitmap, QRect sample) const;

  // Handlers, named after the component and the event.
  void FormCreate(TCustomForm& Sender);
  void FormDestroy(TCustomForm& Sender);
  void FormResize(TCustomForm& Sender);
  void ToolBar1Resize(TToolBar& Sender);
  // The width the toolbar's wide separator needs for the controls that stand on it.
  int SeparatorContentWidth() const;
  void OpenBuutonClick(TSpeedButton& Sender);
  void FrameSpeedButton2Click(TSpeedButton& Sender);
  void FrameSpeedButton1Click(TSpeedButton& Sender);
  void SampleImageMouseUp(TImage& Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  // A save button's click: saves through its group's filter. The layout's buttons each have
  // theirs by name; a group the window builds has SaveButtonClick.
  void SaveButtonClick(TSpeedButton& Sender);
  void SavePatternDither4Click(TSpeedButton& Sender);
  void SavePatternDither16Click(TSpeedButton& Sender);
  void SaveDiffError64Click(TSpeedButton& Sender);
  void SaveDiffError32Click(TSpeedButton& Sender);
  void SaveDiffError16Click(TSpeedButton& Sender);
  void SaveDiffusionClick(TSpeedButton& Sender);
  void SaveOrderedClick(TSpeedButton& Sender);
  void VersionInfoButtonClick(TSpeedButton& Sender);
  void EditButtonClick(TSpeedButton& Sender);

  // The deep filters' column: its controls' wiring and hints, its previews, its saves.
  void ApplyDeepLayout();
  // The light check box of the deep column: its hint, default and refresh.
  void ApplyLightLayout();
  // Where the deep column's samples may start at the highest, clear of the light check box.
  int LightFloor() const;
  // What the light check box chooses.
  TDeepLight LightChoice() const;
  // Keeps the deep previews' row level with the sample groups' rows.
  void PlaceDeepSamples();
  // The deep previews of the sample w x h at (x, y) of Bitmap, from the picture's full precision
  // when Bitmap is the loaded picture and its file was deeper than 8 bits.
  void UpdateDeepSamples(const TBitmap& Bitmap, std::int32_t x, std::int32_t y, std::int32_t w,
                         std::int32_t h);
  // The deep previews again at the current sample, after the level count or grey changed.
  void RefreshDeepSamples();
  // The whole picture through a deep filter at DeepOptions, band by band into the file; OnWhite
  // (an alpha plane, or null) blends the picture over white first.
  void SaveDeepFile(const TFilterEntry& Filter, const QString& FileName,
                    const TPictureFormat& Format, const std::uint8_t* OnWhite);

  TOpenDialog OpenDialog1;
  TSaveDialog SaveDialog1;
  std::unique_ptr<TBitmap> FBitmap;
  // What the open picture carries beside its colours (alpha, colour profile), for PNG saves.
  std::unique_ptr<TPictureExtras> FExtras;
  // The loaded picture at full precision, kept beside FBitmap for a file deeper than 8 bits
  // (see DeepBitmap), so that every sample and every save sees the precision the file had.
  std::unique_ptr<TDeepPicture> FDeep;
  // The file the loaded picture was opened from.
  QString FPictureName;
  TPoint FSampleOrigin;

  // The full view through a filter: the toolbar's list and flip button, the image control over
  // the full view that shows the filtered rows done so far, and the work that makes them.
  void SetUpFilteredView();
  // Starts the filtered picture again for the picture and settings in force (or lets it go when
  // the full view shows the unfiltered picture); the rows done so far are hidden first.
  void RestartFilteredView();
  // Stops the work and lets the filtered picture go (before another picture is read).
  void ReleaseFilteredView();
  void FilteredRowsDone(std::int32_t rows);
  void FilteredViewFailed(std::exception_ptr error);
  // The filtered rows shown or hidden as the flip says; their size at the zoom in force.
  void PlaceFilteredRows();
  void ArrowKey(int key, Qt::KeyboardModifiers modifiers, bool& used);
  // Scrolls the full view the least that brings the sample's frame into sight.
  void ScrollSampleIntoView();
  TChoiceBox* FViewBox = nullptr;
  TFrameSpeedButton* FFlipButton = nullptr;
  TImage* FFilteredImage = nullptr;
  std::unique_ptr<TFilteredView> FFilteredView;
  std::optional<TFilterId> FViewFilter;
  bool FShowOriginal = false;
  bool FPeeking = false;

  TChoiceBox* FZoomBox = nullptr;
  TSpinEdit* FStrengthEdit = nullptr;
  int FZoom = 1;
  std::uint8_t FStrength = kFullStrength;
  int FWheelRest = 0;  // eighths of a degree of Ctrl+wheel not yet turned into a zoom step
};

// The main window, once the application has built it.
extern TMainForm* MainForm;

}  // namespace penamo
