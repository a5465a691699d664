// The terminal window: a scroll view that paints the document's text in the system's
// fixed-pitch font. Received text is laid out by its TerminalModel on the delivering
// thread; this widget only turns the model into pixels, on the GUI thread, at most
// about sixty times a second and only where something changed. It also offers
// selection with the mouse, Copy, Select All and a find bar; none of them sends
// anything to the switch.
#pragma once

#include "terminal/CTRQDiagDoc.h"
#include "terminal/TerminalModel.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QRawFont>
#include <QTimer>

#include <array>
#include <atomic>
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
    };
    PaintStats Stats() const { return stats_; }

protected:
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

    void OnInitialUpdate();
    // Queues one ScheduleSync unless one is already waiting.
    void PostSync();
    // GUI thread: runs SyncFromModel now or when the display interval has passed.
    void ScheduleSync();
    // GUI thread: scroll bars and scroll position from the model, then a repaint of
    // what changed.
    void SyncFromModel();
    void ApplyScrollSizes(const ScrollSizes& s);
    void DrawLine(QPainter& p, int x, int baseline, const std::string& line);

    TextPos PosAt(const QPoint& viewportPoint) const;
    int ColumnX(const std::string& line, int column) const;
    void SetSelection(TextPos anchor, TextPos cursor);
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
    std::atomic<int> scrollTarget_{-1};
    QTimer syncTimer_;
    QElapsedTimer sinceSync_;
    uint64_t clears_ = 0;

    TextPos anchor_, cursor_;
    bool selecting_ = false;
    QElapsedTimer sinceDoubleClick_;
    QPoint doubleClickAt_;

    TerminalFindBar* findBar_ = nullptr;
    QString findText_;
    std::vector<TextMatch> matches_;
    int currentMatch_ = -1;

    QAction* copyAction_ = nullptr;
    QAction* selectAllAction_ = nullptr;
    QAction* findAction_ = nullptr;
    PaintStats stats_;
};
