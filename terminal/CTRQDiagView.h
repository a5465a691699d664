// The terminal window: a scroll view that paints the document's text in the system's
// fixed-pitch font. Received text is laid out by its TerminalModel on the delivering
// thread; this widget only turns the model into pixels, on the GUI thread, at most
// about sixty times a second (twenty while text streams on) and only where something
// changed. It also offers
// selection with the mouse, Copy, Select All and a find bar; none of them sends
// anything to the switch.
#pragma once

#include "terminal/CTRQDiagDoc.h"
#include "terminal/TerminalModel.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QPointer>
#include <QRawFont>
#include <QTimer>

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

class QAction;
class TerminalFindBar;

class CTRQDiagView : public QAbstractScrollArea, private TerminalSurface {
    Q_OBJECT
public:
    // Attaches itself to doc as its view; doc must outlive the view, and every link
    // must have stopped delivering before the view is destroyed.
    explicit CTRQDiagView(CTRQDiagDoc& doc, QWidget* parent = nullptr);
    ~CTRQDiagView() override;

    CTRQDiagDoc& GetDocument() { return doc_; }
    TerminalModel& Model() { return model_; }
    // See TerminalHooks: set once, before any link delivers text.
    void SetHooks(TerminalHooks hooks) { model_.SetHooks(std::move(hooks)); }

    // Clear New (32833), link connects and disconnects: empties text and screen.
    void ClearScreen() { model_.ClearScreen(); }

    // Where the engineer types: printable keys typed while the terminal has the focus
    // go there (with the focus), a middle click pastes the X selection there, and the
    // scrollback keys typed there scroll the terminal (Shift+PgUp, Shift+PgDn,
    // Shift+Home or Ctrl+Home, Shift+End or Ctrl+End).
    void SetInputWidget(QWidget* input);
    // False while the engineer reads further up: new text then leaves the view where
    // it is, until it is scrolled back to the end.
    bool Following() const { return following_; }
    // File > Open; false when the file cannot be read (the frame reports it).
    bool OpenDocument(const QString& path);

    int LineHeight() const { return lineHeight_; }
    int CharWidth() const { return charWidth_; }

    // Selection: a screen position is (line, column); the end is not included.
    struct TextPos {
        int line = 0, column = 0;
        auto operator<=>(const TextPos&) const = default;
    };
    bool HasSelection() const { return anchor_ != cursor_; }
    // The selected text with the clipboard's line ends.
    QString SelectedText() const;
    void SelectAll();
    // Copies the selection to the clipboard (nothing when there is none).
    void CopySelection();

    // Find: opens the bar; FindNext/FindPrevious search again (the text may have
    // grown) and make the next or previous match the current one.
    TerminalFindBar* FindBar() const { return findBar_; }
    void OpenFind();
    void FindNext() { FindStep(+1); }
    void FindPrevious() { FindStep(-1); }
    const std::vector<TextMatch>& Matches() const { return matches_; }
    int CurrentMatch() const { return currentMatch_; }

    // Paints done and screen lines drawn since construction (for checks of the cost).
    struct PaintStats {
        long paints = 0;
        long linesDrawn = 0;
        long charsDrawn = 0;
        long scrollBarUpdates = 0;  // range and value pushed to the scroll bars
    };
    PaintStats Stats() const { return stats_; }

signals:
    // A passing message for the status bar (an overflow dump written).
    void statusMessage(const QString& text);
    // The view stopped (true) or resumed (false) following new text.
    void scrolledBack(bool back);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // TerminalSurface, called from the delivering thread.
    int LineWidth(std::string_view line) override;
    void SetScrollSizes(const ScrollSizes& sizes) override;
    void ScrollTo(int y) override;
    void RequestRepaint(bool erase) override;
    void DumpFailed(const std::string& path) override;
    void DumpWritten(const DumpReport& report) override;

    void OnInitialUpdate();
    // Marks the model changed; wakes the GUI thread only when its frame timer is not
    // already running.
    void PostSync();
    // GUI thread: the frame timer runs while text streams, one wake-up a frame, and
    // stops after a few frames without change. Frames stretch while text streams on.
    void StartFrames();
    void FrameTick();
    // A key typed where the engineer types: the answer is awaited at display rate.
    void KeyTyped();
    // GUI thread: scroll bars and scroll position from the model, then a repaint of
    // what changed.
    void SyncFromModel();
    // Moves the text to document y top (the pixels already drawn move along); the
    // scroll bar follows on its own, slower schedule.
    void MoveTop(int top);
    // Range and value to the scroll bars now; toEnd shows the last line.
    void PushScrollBars(bool toEnd = false);
    // Before the engineer or a key uses the vertical scroll bar.
    void FreshenScrollBar() {
        if (barStale_) PushScrollBars();
    }
    void DrawLine(QPainter& p, int x, int baseline, const std::string& line);

    TextPos PosAt(const QPoint& viewportPoint) const;
    int ColumnX(const std::string& line, int column) const;
    void SetSelection(TextPos anchor, TextPos cursor);
    // The finished selection also becomes the X primary selection.
    void PublishSelection();
    // Scrolls for a scrollback key; false when the key is not one.
    bool ScrollKey(const QKeyEvent& event);
    void UpdateFollowing();
    void FindStep(int direction);
    void ShowMatch(const TextMatch& m);
    void PlaceFindBar();

    CTRQDiagDoc& doc_;
    TerminalModel model_;
    QFont font_;
    int lineHeight_ = 20;
    int charWidth_ = 0;
    int minAdvance_ = 1;
    int ascent_ = 0;
    std::array<int, 256> advance_{};  // fixed once built, so any thread may read it
    // Glyphs of the 256 bytes, looked up once: a line is drawn as positioned glyphs
    // without shaping. A line with a byte the font lacks is drawn as text instead.
    QRawFont rawFont_;
    std::array<quint32, 256> glyph_{};

    std::atomic<bool> syncPending_{false};
    std::atomic<bool> dirty_{false};
    std::atomic<bool> ticking_{false};
    int idleFrames_ = 0;
    int busyFrames_ = 0;
    QElapsedTimer sinceKey_;
    std::atomic<int> scrollTarget_{-1};
    QTimer syncTimer_;
    QElapsedTimer sinceSync_;
    // The document y shown at the top. While text streams, the scroll bar lags
    // behind it: its range changes with every line, and redrawing it each frame cost
    // more than the text did.
    int top_ = 0;
    bool barStale_ = false;
    QTimer barTimer_;
    QElapsedTimer sincePush_;
    uint64_t clears_ = 0;

    QPointer<QWidget> input_;
    bool following_ = true;

    TextPos anchor_, cursor_;
    bool selecting_ = false;
    QElapsedTimer sinceDoubleClick_;
    QPoint doubleClickAt_;

    TerminalFindBar* findBar_ = nullptr;
    QString findText_;
    std::vector<TextMatch> matches_;
    int currentMatch_ = -1;

    // The newest dump's report; one post at a time carries it to the GUI thread,
    // however many dumps a flood makes meanwhile, and the status bar shows it at most
    // every kStatusIntervalMs (each showing repaints the bar).
    std::mutex statusLock_;
    DumpReport pendingDump_;
    bool statusPosted_ = false;
    QElapsedTimer sinceStatus_;
    QTimer statusTimer_;
    void ShowDumpStatus();

    QAction* copyAction_ = nullptr;
    QAction* selectAllAction_ = nullptr;
    QAction* findAction_ = nullptr;
    PaintStats stats_;
};
