// The terminal window. Surface requests come from the delivering thread and are
// folded into one queued SyncFromModel; painting and scroll bars are GUI-thread only.
#include "terminal/CTRQDiagView.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

CTRQDiagView::CTRQDiagView(CTRQDiagDoc& doc, QWidget* parent)
    : QAbstractScrollArea(parent), doc_(doc), model_(doc, *this) {
    font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    viewport()->setFont(font_);
    setFont(font_);
    const QFontMetrics fm(font_);
    for (int c = 0; c < 256; ++c) advance_[c] = fm.horizontalAdvance(QChar(c));
    OnInitialUpdate();
    // Last: from here on a link may deliver text to this view.
    doc_.SetView(&model_);
}

CTRQDiagView::~CTRQDiagView() { doc_.SetView(nullptr); }

void CTRQDiagView::OnInitialUpdate() {
    const QFontMetrics fm(font_);
    lineHeight_ = std::max(1, fm.lineSpacing());
    // The widest of the characters this view draws (bytes 32-255 as Latin-1). The
    // font's own maxWidth() counts glyphs far outside that range and would make the
    // 90-column page needlessly wide.
    charWidth_ = 1;
    for (int c = 32; c < 256; ++c) charWidth_ = std::max(charWidth_, advance_[c]);
    ascent_ = fm.ascent();
    model_.SetMetrics(lineHeight_, charWidth_);
    model_.SetClientSize(viewport()->width(), viewport()->height());
    ApplyScrollSizes(model_.Snapshot().scroll);
}

bool CTRQDiagView::OpenDocument(const QString& path) {
    return doc_.OpenDocument(QFile::encodeName(path).toStdString());
}

int CTRQDiagView::LineWidth(std::string_view line) {
    int w = 0;
    for (unsigned char c : line) w += advance_[c];
    return w;
}

void CTRQDiagView::SetScrollSizes(const ScrollSizes&) { PostSync(); }

void CTRQDiagView::ScrollTo(int y) {
    scrollTarget_.store(y);
    PostSync();
}

void CTRQDiagView::RequestRepaint(bool) { PostSync(); }

void CTRQDiagView::DumpFailed(const std::string& path) {
    // Posted: a read thread must never wait for the GUI thread.
    const std::string text = "Unable to save the terminal text to " + path + ".";
    PostToGui([text] { ShowMessage(text, std::string(), MsgIcon::Error, MsgButtons::Ok); }, this);
}

void CTRQDiagView::PostSync() {
    if (syncPending_.exchange(true)) return;
    PostToGui([this] { SyncFromModel(); }, this);
}

void CTRQDiagView::SyncFromModel() {
    // Cleared first: a request arriving while this runs queues the next sync.
    syncPending_.store(false);
    ApplyScrollSizes(model_.Snapshot().scroll);
    const int y = scrollTarget_.exchange(-1);
    if (y >= 0) verticalScrollBar()->setValue(y);
    viewport()->update();
}

void CTRQDiagView::ApplyScrollSizes(const ScrollSizes& s) {
    const QSize view = viewport()->size();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, s.totalHeight - view.height()));
    v->setPageStep(std::max(1, s.pageHeight));
    v->setSingleStep(std::max(1, s.lineHeight));
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(0, s.totalWidth - view.width()));
    h->setPageStep(std::max(1, s.pageWidth));
    h->setSingleStep(std::max(1, s.lineWidth));
}

void CTRQDiagView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    p.setFont(font_);
    p.setPen(palette().color(QPalette::Text));

    const std::string text = doc_.GetTranscript();
    const int top = verticalScrollBar()->value();
    const int left = horizontalScrollBar()->value();
    const QRect area = event->rect();
    const int first = std::max(0, (top + area.top()) / lineHeight_);
    const int last = (top + area.bottom()) / lineHeight_;

    ForEachScreenLine(text, first, last, [&](int n, std::string_view line) {
        if (line.empty()) return;
        p.drawText(-left, n * lineHeight_ - top + ascent_,
                   QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    });
}

void CTRQDiagView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    model_.SetClientSize(viewport()->width(), viewport()->height());
    ApplyScrollSizes(model_.Snapshot().scroll);
}

void CTRQDiagView::scrollContentsBy(int, int) { viewport()->update(); }

// The terminal takes no keyboard input: the user types in the input box bar.
void CTRQDiagView::keyPressEvent(QKeyEvent* event) { event->ignore(); }
void CTRQDiagView::keyReleaseEvent(QKeyEvent* event) { event->ignore(); }
