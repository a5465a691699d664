// The terminal window: a scroll view that paints the document's text in the system's
// fixed-pitch font. Received text is laid out by its TerminalModel on the delivering
// thread; this widget only turns the model into pixels, on the GUI thread.
#pragma once

#include "terminal/CTRQDiagDoc.h"
#include "terminal/PromptMatcher.h"
#include "terminal/TerminalModel.h"

#include <QAbstractScrollArea>
#include <QFont>

#include <array>
#include <atomic>

class CTRQDiagView : public QAbstractScrollArea, private TerminalSurface {
    Q_OBJECT
public:
    // Attaches itself to doc as its view; doc must outlive the view, and every link
    // must have stopped delivering before the view is destroyed.
    explicit CTRQDiagView(CTRQDiagDoc& doc, QWidget* parent = nullptr);
    ~CTRQDiagView() override;

    CTRQDiagDoc& GetDocument() { return doc_; }
    // The login matcher: awaiting-login flag and access mode of this terminal.
    PromptMatcher& Matcher() { return matcher_; }
    TerminalModel& Model() { return model_; }
    // See TerminalHooks: set once, before any link delivers text.
    void SetHooks(TerminalHooks hooks) { model_.SetHooks(std::move(hooks)); }

    // Clear New (32833), link connects and disconnects: empties text and screen.
    void ClearScreen() { model_.ClearScreen(); }
    // File > Open; false when the file cannot be read (the frame reports it).
    bool OpenDocument(const QString& path);

    int LineHeight() const { return lineHeight_; }
    int CharWidth() const { return charWidth_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // TerminalSurface, called from the delivering thread.
    int LineWidth(std::string_view line) override;
    void SetScrollSizes(const ScrollSizes& sizes) override;
    void ScrollTo(int y) override;
    void RequestRepaint(bool erase) override;
    void DumpFailed(const std::string& path) override;

    void OnInitialUpdate();
    // Queues one SyncFromModel unless one is already waiting.
    void PostSync();
    // GUI thread: scroll bars and scroll position from the model, then a repaint.
    void SyncFromModel();
    void ApplyScrollSizes(const ScrollSizes& s);

    CTRQDiagDoc& doc_;
    PromptMatcher matcher_;
    TerminalModel model_;
    QFont font_;
    int lineHeight_ = 20;
    int charWidth_ = 0;
    int ascent_ = 0;
    std::array<int, 256> advance_{};  // fixed once built, so any thread may read it

    std::atomic<bool> syncPending_{false};
    std::atomic<int> scrollTarget_{-1};
};
