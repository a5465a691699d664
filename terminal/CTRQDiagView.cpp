// The terminal window. Surface requests come from the delivering thread and are
// folded into one queued sync, run at most once per display interval; painting,
// scroll bars, selection and find are GUI-thread only.
#include "terminal/CTRQDiagView.h"

#include "platform/GuiThread.h"
#include "platform/MessageService.h"
#include "terminal/TerminalFindBar.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <utility>

namespace {
// About sixty repaints a second, however often text arrives.
constexpr int kDisplayIntervalMs = 16;
// Text that keeps streaming (a serial line, a long listing) is shown about 20 times a
// second: at 115200 baud a frame at display rate would add little more than part of a
// line, and each frame costs a scroll, a repaint and a round trip to the display.
// The first change after a pause, and what follows a key the engineer typed, still
// show at display rate.
constexpr int kStreamIntervalMs = 50;
constexpr int kFramesBeforeStreaming = 3;
constexpr int kTypedMs = 1000;
// While text streams the scroll bars are brought up to date once a second (a push
// repaints the bar through the style, whose tall fills wake Qt's thread pool), and
// once the text pauses for a few frames.
constexpr int kScrollBarIntervalMs = 1000;
constexpr int kScrollBarQuietMs = 100;
constexpr int kFillStripRows = 32;
// A flood's dumps are named on the status bar at most this often; the newest is shown.
constexpr qint64 kStatusIntervalMs = 250;
// Find keeps at most this many matches.
constexpr size_t kMaxMatches = 100000;
const QColor kMatchColour(255, 230, 90);
const QColor kCurrentMatchColour(255, 150, 50);

bool IsWordByte(unsigned char c) {
    static constexpr std::string_view kDelimiters = " \t,;:\"'`()[]{}<>|=";
    return c > ' ' && kDelimiters.find(static_cast<char>(c)) == std::string_view::npos;
}
} // namespace

CTRQDiagView::CTRQDiagView(CTRQDiagDoc& doc, QWidget* parent)
    : QAbstractScrollArea(parent), doc_(doc), model_(doc, *this) {
    font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    viewport()->setFont(font_);
    setFont(font_);
    const QFontMetrics fm(font_);
    for (int c = 0; c < 256; ++c) advance_[c] = fm.horizontalAdvance(QChar(c));

    rawFont_ = QRawFont::fromFont(font_);
    if (rawFont_.isValid()) {
        QChar chars[256];
        for (int c = 0; c < 256; ++c) chars[c] = QChar(c);
        int n = 256;
        if (!rawFont_.glyphIndexesForChars(chars, 256, glyph_.data(), &n) || n != 256) glyph_.fill(0);
        // Control characters are left to the text path, as is any byte the font lacks.
        for (int c = 0; c < 32; ++c) glyph_[c] = 0;
        for (int c = 127; c < 160; ++c) glyph_[c] = 0;
    }

    syncTimer_.setTimerType(Qt::PreciseTimer);  // never early: at most one frame an interval
    syncTimer_.setInterval(kDisplayIntervalMs);
    connect(&syncTimer_, &QTimer::timeout, this, &CTRQDiagView::FrameTick);
    barTimer_.setSingleShot(true);
    connect(&barTimer_, &QTimer::timeout, this, [this] { FreshenScrollBar(); });
    statusTimer_.setSingleShot(true);
    connect(&statusTimer_, &QTimer::timeout, this, [this] { ShowDumpStatus(); });
    verticalScrollBar()->installEventFilter(this);

    findBar_ = new TerminalFindBar(this);
    connect(findBar_, &TerminalFindBar::next, this, &CTRQDiagView::FindNext);
    connect(findBar_, &TerminalFindBar::previous, this, &CTRQDiagView::FindPrevious);
    connect(findBar_, &TerminalFindBar::textEdited, this, [this] {
        currentMatch_ = -1;
        FindStep(+1);
    });
    connect(findBar_, &TerminalFindBar::closed, this, [this] {
        matches_.clear();
        currentMatch_ = -1;
        viewport()->update();
    });

    auto addAction = [this](const QString& text, const QKeySequence& keys, Qt::ShortcutContext context,
                            void (CTRQDiagView::*slot)()) {
        auto* a = new QAction(text, this);
        a->setShortcut(keys);
        a->setShortcutContext(context);
        connect(a, &QAction::triggered, this, slot);
        QWidget::addAction(a);
        return a;
    };
    copyAction_ = addAction(QStringLiteral("&Copy"), QKeySequence(QStringLiteral("Ctrl+Shift+C")),
                            Qt::WidgetWithChildrenShortcut, &CTRQDiagView::CopySelection);
    selectAllAction_ = addAction(QStringLiteral("Select &All"), QKeySequence(QStringLiteral("Ctrl+Shift+A")),
                                 Qt::WidgetWithChildrenShortcut, &CTRQDiagView::SelectAll);
    // Anywhere in the window: the focus is usually in the input box.
    findAction_ = addAction(QStringLiteral("&Find..."), QKeySequence(QStringLiteral("Ctrl+F")),
                            Qt::WindowShortcut, &CTRQDiagView::OpenFind);

    viewport()->setCursor(Qt::IBeamCursor);
    // paintEvent fills the background itself, in strips (see there).
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CTRQDiagView::UpdateFollowing);
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
    minAdvance_ = INT_MAX;
    for (int c = 32; c < 256; ++c) {
        charWidth_ = std::max(charWidth_, advance_[c]);
        if (advance_[c] > 0) minAdvance_ = std::min(minAdvance_, advance_[c]);
    }
    if (minAdvance_ == INT_MAX) minAdvance_ = 1;
    ascent_ = fm.ascent();
    model_.SetMetrics(lineHeight_, charWidth_);
    model_.SetClientSize(viewport()->width(), viewport()->height());
    PushScrollBars();
    sinceSync_.start();
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

namespace {
QString SizeText(uint64_t bytes) {
    if (bytes >= (uint64_t{1} << 30)) return QStringLiteral("%1 GB").arg(double(bytes) / (1 << 30), 0, 'f', 2);
    if (bytes >= (uint64_t{1} << 20)) return QStringLiteral("%1 MB").arg(double(bytes) / (1 << 20), 0, 'f', 1);
    return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
}
} // namespace

void CTRQDiagView::DumpWritten(const DumpReport& r) {
    bool post = false;
    {
        std::lock_guard lock(statusLock_);
        pendingDump_ = r;
        post = !std::exchange(statusPosted_, true);
    }
    if (post) PostToGui([this] { ShowDumpStatus(); }, this);
    if (r.lowSpace) {
        const std::string warning = "Only " + SizeText(uint64_t(std::max<int64_t>(r.freeBytes, 0))).toStdString() +
                                    " free in the start directory, where the overflow dumps (" +
                                    SizeText(r.totalBytes).toStdString() + " so far) are written.";
        PostToGui([warning] { ShowMessage(warning, std::string(), MsgIcon::Warning, MsgButtons::Ok); }, this);
    }
}

void CTRQDiagView::ShowDumpStatus() {
    if (sinceStatus_.isValid() && sinceStatus_.elapsed() < kStatusIntervalMs) {
        // The report stays pending (and posts stay off) until the timer shows the newest.
        if (!statusTimer_.isActive()) statusTimer_.start(int(kStatusIntervalMs - sinceStatus_.elapsed()));
        return;
    }
    DumpReport r;
    {
        std::lock_guard lock(statusLock_);
        r = std::move(pendingDump_);
        statusPosted_ = false;
    }
    sinceStatus_.restart();
    const QString name = QFileInfo(QFile::decodeName(r.path.c_str())).fileName();
    emit statusMessage(QStringLiteral("Screen saved to %1 (%2); %3 dump%4 this session, %5 on disk")
                           .arg(name, SizeText(r.bytes))
                           .arg(r.dumps)
                           .arg(r.dumps == 1 ? QString() : QStringLiteral("s"))
                           .arg(SizeText(r.totalBytes)));
}

void CTRQDiagView::PostSync() {
    dirty_.store(true);
    // Seen running: its next tick sees dirty_ (FrameTick checks again after stopping).
    if (ticking_.load()) return;
    if (syncPending_.exchange(true)) return;
    PostToGui([this] {
        syncPending_.store(false);
        StartFrames();
    }, this);
}

void CTRQDiagView::StartFrames() {
    if (syncTimer_.isActive()) return;
    ticking_.store(true);
    idleFrames_ = 0;
    busyFrames_ = 0;
    syncTimer_.start(kDisplayIntervalMs);
    // After a pause the first change shows at once (a typed command's echo).
    if (sinceSync_.elapsed() >= kDisplayIntervalMs && dirty_.exchange(false)) SyncFromModel();
}

void CTRQDiagView::FrameTick() {
    if (dirty_.exchange(false)) {
        idleFrames_ = 0;
        if (++busyFrames_ >= kFramesBeforeStreaming && syncTimer_.interval() != kStreamIntervalMs &&
            !(sinceKey_.isValid() && sinceKey_.elapsed() < kTypedMs))
            syncTimer_.start(kStreamIntervalMs);
        SyncFromModel();
        return;
    }
    // The text paused: the next change shows at display rate again.
    busyFrames_ = 0;
    if (syncTimer_.interval() != kDisplayIntervalMs) syncTimer_.start(kDisplayIntervalMs);
    if (++idleFrames_ < 3) return;
    ticking_.store(false);
    syncTimer_.stop();
    // A change marked while ticking_ still read true would otherwise wait unseen.
    if (dirty_.load()) StartFrames();
}

void CTRQDiagView::KeyTyped() {
    sinceKey_.start();
    busyFrames_ = 0;
    if (syncTimer_.isActive() && syncTimer_.interval() != kDisplayIntervalMs) syncTimer_.start(kDisplayIntervalMs);
}

void CTRQDiagView::SyncFromModel() {
    sinceSync_.restart();
    const TerminalModel::Changes changes = model_.TakeChanges();
    const int y = scrollTarget_.exchange(-1);
    if (changes.clears != clears_) {
        // The text these referred to is gone (dump, clear or an opened file), and so
        // is what the engineer was reading further up.
        clears_ = changes.clears;
        anchor_ = cursor_ = TextPos{};
        selecting_ = false;
        matches_.clear();
        currentMatch_ = -1;
        if (findBar_->isVisible()) findBar_->SetCount(-1, 0);
        // A flood dumps and clears many times a frame: the text is shown from its end at
        // once, while the bars follow at their own pace like any streaming change.
        if (!sincePush_.isValid() || sincePush_.elapsed() >= kScrollBarIntervalMs) {
            PushScrollBars(true);
        } else {
            MoveTop(std::max(0, model_.Snapshot().scroll.totalHeight - viewport()->height()));
            barStale_ = true;
            barTimer_.start(kScrollBarQuietMs);
        }
    } else {
        if (y >= 0 && following_) {
            const ScrollSizes s = model_.Snapshot().scroll;
            MoveTop(std::clamp(y, 0, std::max(0, s.totalHeight - viewport()->height())));
        }
        barStale_ = true;
        if (!sincePush_.isValid() || sincePush_.elapsed() >= kScrollBarIntervalMs) PushScrollBars();
        else barTimer_.start(kScrollBarQuietMs);
    }
    if (changes.erase) {
        viewport()->update();
    } else if (changes.fromLine >= 0) {
        // Only the changed lines: the rest moved with MoveTop.
        const int64_t from = int64_t{changes.fromLine} * lineHeight_ - top_;
        const int h = viewport()->height();
        if (from < h) {
            const int top = static_cast<int>(std::max<int64_t>(0, from));
            viewport()->update(QRect(0, top, viewport()->width(), h - top));
        }
    }
}

void CTRQDiagView::MoveTop(int top) {
    const int dy = top_ - top;
    if (dy == 0) return;
    top_ = top;
    if (std::abs(dy) >= viewport()->height()) viewport()->update();
    else viewport()->scroll(0, dy);
}

void CTRQDiagView::PushScrollBars(bool toEnd) {
    ++stats_.scrollBarUpdates;
    barStale_ = false;
    barTimer_.stop();
    sincePush_.restart();
    const ScrollSizes s = model_.Snapshot().scroll;
    // A view showing the end keeps showing it when the range or the window changes
    // (a horizontal scroll bar appearing must not hide the last line).
    const bool end = toEnd || following_;
    const int want = top_;
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(0, s.totalWidth - viewport()->width()));
    h->setPageStep(std::max(1, s.pageWidth));
    h->setSingleStep(std::max(1, s.lineWidth));
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, s.totalHeight - viewport()->height()));
    v->setPageStep(std::max(1, s.pageHeight));
    v->setSingleStep(std::max(1, s.lineHeight));
    v->setValue(end ? v->maximum() : std::min(want, v->maximum()));
    // setValue does nothing when the bar already held that value while top_ moved on.
    MoveTop(v->value());
}

void CTRQDiagView::DrawLine(QPainter& p, int x, int baseline, const std::string& line) {
    ++stats_.linesDrawn;
    stats_.charsDrawn += static_cast<long>(line.size());
    bool glyphs = rawFont_.isValid();
    for (unsigned char c : line)
        if (!glyph_[c]) {
            glyphs = false;
            break;
        }
    if (!glyphs) {
        p.drawText(x, baseline, QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
        return;
    }
    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(static_cast<qsizetype>(line.size()));
    positions.reserve(static_cast<qsizetype>(line.size()));
    int at = 0;
    for (unsigned char c : line) {
        indexes.push_back(glyph_[c]);
        positions.push_back(QPointF(at, 0));
        at += advance_[c];
    }
    QGlyphRun run;
    run.setRawFont(rawFont_);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    p.drawGlyphRun(QPointF(x, baseline), run);
}

int CTRQDiagView::ColumnX(const std::string& line, int column) const {
    int x = 0;
    const int n = std::min<int>(column, static_cast<int>(line.size()));
    for (int i = 0; i < n; ++i) x += advance_[static_cast<unsigned char>(line[static_cast<size_t>(i)])];
    return x + std::max(0, column - n) * charWidth_;
}

void CTRQDiagView::paintEvent(QPaintEvent* event) {
    ++stats_.paints;
    QPainter p(viewport());
    p.setFont(font_);
    const QRect area = event->rect();
    if (area.contains(viewport()->rect())) {
        // The text may have been dumped and cleared since this frame was laid out: a
        // whole repaint shows the end of what is there rather than lines now gone.
        const int64_t end = int64_t{model_.Snapshot().lineCount + 1} * lineHeight_ - viewport()->height();
        if (top_ > end) top_ = static_cast<int>(std::max<int64_t>(0, end));
    }
    const int top = top_;
    const int left = horizontalScrollBar()->value();
    // In strips of a few dozen rows: the raster engine hands a taller fill to its
    // thread pool, and waking and parking those threads every frame cost more than
    // the fill.
    const QColor base = palette().color(QPalette::Base);
    for (int y = area.top(); y <= area.bottom(); y += kFillStripRows)
        p.fillRect(QRect(area.left(), y, area.width(), std::min(kFillStripRows, area.bottom() + 1 - y)), base);
    const int first = std::max(0, (top + area.top()) / lineHeight_);
    const int last = (top + area.bottom()) / lineHeight_;
    // Only the columns that can reach the area: a long line costs no more than a short one.
    const size_t columns = static_cast<size_t>((left + area.right()) / minAdvance_ + 2);
    const std::vector<std::string> lines = model_.VisibleLines(first, last, columns);

    const TextPos selFrom = std::min(anchor_, cursor_), selTo = std::max(anchor_, cursor_);
    const QColor text = palette().color(QPalette::Text);
    const QColor selText = palette().color(QPalette::HighlightedText);
    auto fill = [&](const std::string& line, int y, int from, int to, const QColor& c) {
        const int x0 = ColumnX(line, from), x1 = ColumnX(line, to);
        if (x1 > x0) p.fillRect(QRect(x0 - left, y, x1 - x0, lineHeight_), c);
    };
    auto match = std::lower_bound(matches_.begin(), matches_.end(), first,
                                  [](const TextMatch& m, int line) { return m.line < line; });
    for (size_t i = 0; i < lines.size(); ++i) {
        const int n = first + static_cast<int>(i);
        const std::string& line = lines[i];
        const int y = n * lineHeight_ - top;
        for (; match != matches_.end() && match->line == n; ++match) {
            const bool current = currentMatch_ >= 0 && *match == matches_[static_cast<size_t>(currentMatch_)];
            fill(line, y, match->column, match->column + match->length,
                 current ? kCurrentMatchColour : kMatchColour);
        }
        QRect highlight;
        if (HasSelection() && n >= selFrom.line && n <= selTo.line) {
            const int from = n == selFrom.line ? selFrom.column : 0;
            // A selected line end shows as one more highlighted cell.
            const int to = n == selTo.line ? selTo.column : static_cast<int>(line.size()) + 1;
            const int x0 = ColumnX(line, from), x1 = ColumnX(line, to);
            if (x1 > x0) highlight = QRect(x0 - left, y, x1 - x0, lineHeight_);
            if (!highlight.isEmpty()) p.fillRect(highlight, palette().color(QPalette::Highlight));
        }
        if (line.empty()) continue;
        p.setPen(text);
        DrawLine(p, -left, y + ascent_, line);
        if (!highlight.isEmpty()) {
            // Only what lies on the highlight takes its text colour: the rest of the
            // line, and a line whose selection is empty, stay as drawn.
            p.save();
            p.setClipRect(highlight);
            p.setPen(selText);
            DrawLine(p, -left, y + ascent_, line);
            p.restore();
        }
    }
}

void CTRQDiagView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    model_.SetClientSize(viewport()->width(), viewport()->height());
    PushScrollBars();
    PlaceFindBar();
}

// The vertical distance comes from top_, which may already have moved ahead of the bar.
void CTRQDiagView::scrollContentsBy(int dx, int) {
    const int dy = top_ - verticalScrollBar()->value();
    top_ = verticalScrollBar()->value();
    if (dx || dy) viewport()->scroll(dx, dy);
}

// The terminal sends nothing itself: the engineer types in the input box, and what
// is typed here goes there rather than into nothing.
void CTRQDiagView::keyPressEvent(QKeyEvent* event) {
    if (ScrollKey(*event)) return event->accept();
    const QString text = event->text();
    const bool printable = !text.isEmpty() && text.at(0).isPrint() &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (printable && input_ && input_->isEnabled() && input_->isVisible()) {
        input_->setFocus(Qt::OtherFocusReason);
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), text, event->isAutoRepeat(),
                       static_cast<quint16>(event->count()));
        QCoreApplication::sendEvent(input_, &copy);
        return event->accept();
    }
    event->ignore();
}
void CTRQDiagView::keyReleaseEvent(QKeyEvent* event) { event->ignore(); }

void CTRQDiagView::SetInputWidget(QWidget* input) {
    if (input_) input_->removeEventFilter(this);
    input_ = input;
    if (input_) input_->installEventFilter(this);
}

bool CTRQDiagView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == verticalScrollBar()) {
        const QEvent::Type t = event->type();
        if (t == QEvent::MouseButtonPress || t == QEvent::Wheel || t == QEvent::KeyPress) FreshenScrollBar();
        return QAbstractScrollArea::eventFilter(watched, event);
    }
    if (watched == input_ && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (event->type() == QEvent::KeyPress) KeyTyped();
        if (event->type() == QEvent::ShortcutOverride) {
            // Claimed before the edit's own Shift+Home / Shift+End selection can take it.
            const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
            const int k = key->key();
            const bool ours = (mods == Qt::ShiftModifier &&
                               (k == Qt::Key_PageUp || k == Qt::Key_PageDown || k == Qt::Key_Home || k == Qt::Key_End)) ||
                              (mods == Qt::ControlModifier && (k == Qt::Key_Home || k == Qt::Key_End));
            if (ours) event->accept();
            return ours;
        }
        return ScrollKey(*key);
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

bool CTRQDiagView::ScrollKey(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    FreshenScrollBar();
    QScrollBar* v = verticalScrollBar();
    const int page = std::max(lineHeight_, viewport()->height() - lineHeight_);
    if (mods == Qt::ShiftModifier) {
        switch (event.key()) {
        case Qt::Key_PageUp: v->setValue(v->value() - page); return true;
        case Qt::Key_PageDown: v->setValue(v->value() + page); return true;
        case Qt::Key_Home: v->setValue(0); return true;
        case Qt::Key_End: v->setValue(v->maximum()); return true;
        default: return false;
        }
    }
    if (mods == Qt::ControlModifier) {
        if (event.key() == Qt::Key_Home) v->setValue(0);
        else if (event.key() == Qt::Key_End) v->setValue(v->maximum());
        else return false;
        return true;
    }
    return false;
}

void CTRQDiagView::UpdateFollowing() {
    const bool following = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    if (following == following_) return;
    following_ = following;
    emit scrolledBack(!following);
}

CTRQDiagView::TextPos CTRQDiagView::PosAt(const QPoint& point) const {
    const int64_t y = int64_t{top_} + std::max(0, point.y());
    const int lineCount = model_.Snapshot().lineCount;
    const int line = static_cast<int>(std::min<int64_t>(y / lineHeight_, lineCount));
    const int x = horizontalScrollBar()->value() + std::max(0, point.x());
    const std::vector<std::string> l = model_.VisibleLines(line, line, static_cast<size_t>(x / minAdvance_ + 2));
    int column = 0, at = 0;
    if (!l.empty())
        for (unsigned char c : l.front()) {
            if (at + advance_[c] / 2 >= x) break;
            at += advance_[c];
            ++column;
        }
    return {line, column};
}

void CTRQDiagView::SetSelection(TextPos anchor, TextPos cursor) {
    anchor_ = anchor;
    cursor_ = cursor;
    viewport()->update();
}

QString CTRQDiagView::SelectedText() const {
    if (!HasSelection()) return QString();
    const TextPos from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
    const std::string text = model_.TextBetween(from.line, from.column, to.line, to.column);
    QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
#ifdef Q_OS_WIN
    s.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
#endif
    return s;
}

void CTRQDiagView::SelectAll() {
    const int last = model_.Snapshot().lineCount;
    SetSelection({0, 0}, {last, model_.LineLength(last)});
    PublishSelection();
}

void CTRQDiagView::CopySelection() {
    if (HasSelection()) QGuiApplication::clipboard()->setText(SelectedText());
}

void CTRQDiagView::PublishSelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (HasSelection() && clipboard->supportsSelection()) clipboard->setText(SelectedText(), QClipboard::Selection);
}

void CTRQDiagView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton && input_) {
        // As in an X terminal: the selection is pasted where the engineer types.
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (auto* edit = qobject_cast<QLineEdit*>(input_.data()); edit && clipboard->supportsSelection()) {
            edit->setFocus(Qt::OtherFocusReason);
            edit->insert(clipboard->text(QClipboard::Selection).remove(QLatin1Char('\n')));
        }
        return;
    }
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    const TextPos pos = PosAt(event->position().toPoint());
    if (sinceDoubleClick_.isValid() && sinceDoubleClick_.elapsed() < QApplication::doubleClickInterval() &&
        (event->position().toPoint() - doubleClickAt_).manhattanLength() < 6) {
        // Third click: the whole line with its line end.
        sinceDoubleClick_.invalidate();
        const int last = model_.Snapshot().lineCount;
        SetSelection({pos.line, 0}, pos.line < last ? TextPos{pos.line + 1, 0}
                                                     : TextPos{pos.line, model_.LineLength(pos.line)});
        PublishSelection();
        return;
    }
    selecting_ = true;
    SetSelection((event->modifiers() & Qt::ShiftModifier) ? anchor_ : pos, pos);
}

void CTRQDiagView::mouseMoveEvent(QMouseEvent* event) {
    if (!selecting_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint p = event->position().toPoint();
    // Dragging past an edge scrolls a line at a time.
    FreshenScrollBar();
    QScrollBar* v = verticalScrollBar();
    if (p.y() < 0) v->setValue(v->value() - lineHeight_);
    else if (p.y() > viewport()->height()) v->setValue(v->value() + lineHeight_);
    SetSelection(anchor_, PosAt(p));
}

void CTRQDiagView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseReleaseEvent(event);
    if (selecting_) PublishSelection();
    selecting_ = false;
}

void CTRQDiagView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    selecting_ = false;
    const TextPos pos = PosAt(event->position().toPoint());
    const int length = model_.LineLength(pos.line);
    const std::string line = model_.TextBetween(pos.line, 0, pos.line, length);
    int from = std::min(pos.column, length), to = from;
    if (from < length && IsWordByte(static_cast<unsigned char>(line[static_cast<size_t>(from)]))) {
        while (from > 0 && IsWordByte(static_cast<unsigned char>(line[static_cast<size_t>(from) - 1]))) --from;
        while (to < length && IsWordByte(static_cast<unsigned char>(line[static_cast<size_t>(to)]))) ++to;
    }
    SetSelection({pos.line, from}, {pos.line, to});
    PublishSelection();
    sinceDoubleClick_.start();
    doubleClickAt_ = event->position().toPoint();
}

void CTRQDiagView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    copyAction_->setEnabled(HasSelection());
    menu.addAction(copyAction_);
    menu.addAction(selectAllAction_);
    menu.addSeparator();
    menu.addAction(findAction_);
    menu.exec(event->globalPos());
    copyAction_->setEnabled(true);
}

void CTRQDiagView::PlaceFindBar() {
    if (!findBar_) return;
    findBar_->adjustSize();
    const QRect vp = viewport()->geometry();
    findBar_->move(std::max(vp.left(), vp.right() - findBar_->width() - 4), vp.top() + 2);
}

void CTRQDiagView::OpenFind() {
    findBar_->Open();
    PlaceFindBar();
    if (!findBar_->Text().isEmpty()) {
        currentMatch_ = -1;
        FindStep(+1);
    }
}

void CTRQDiagView::FindStep(int direction) {
    const QString text = findBar_->Text();
    matches_ = text.isEmpty() ? std::vector<TextMatch>()
                              : model_.FindAll(text.toLatin1().toStdString(), kMaxMatches + 1);
    // One more than are kept tells that there are more: "of 100000+".
    const bool more = matches_.size() > kMaxMatches;
    if (more) matches_.pop_back();
    if (matches_.empty()) {
        currentMatch_ = -1;
    } else if (currentMatch_ < 0 || currentMatch_ >= static_cast<int>(matches_.size())) {
        // A new search starts from what is on screen.
        const int topLine = top_ / lineHeight_;
        auto it = std::lower_bound(matches_.begin(), matches_.end(), topLine,
                                   [](const TextMatch& m, int line) { return m.line < line; });
        if (direction < 0) currentMatch_ = it == matches_.begin() ? static_cast<int>(matches_.size()) - 1
                                                                 : static_cast<int>(it - matches_.begin()) - 1;
        else currentMatch_ = it == matches_.end() ? 0 : static_cast<int>(it - matches_.begin());
    } else {
        const int n = static_cast<int>(matches_.size());
        currentMatch_ = ((currentMatch_ + direction) % n + n) % n;
    }
    findBar_->SetCount(currentMatch_, static_cast<int>(matches_.size()), more);
    PlaceFindBar();
    if (currentMatch_ >= 0) ShowMatch(matches_[static_cast<size_t>(currentMatch_)]);
    viewport()->update();
}

void CTRQDiagView::ShowMatch(const TextMatch& m) {
    FreshenScrollBar();
    QScrollBar* v = verticalScrollBar();
    const int y = m.line * lineHeight_;
    const int h = viewport()->height();
    if (y < v->value() || y + lineHeight_ > v->value() + h) v->setValue(y - h / 2);
    const std::vector<std::string> l =
        model_.VisibleLines(m.line, m.line, static_cast<size_t>(m.column + m.length));
    const std::string line = l.empty() ? std::string() : l.front();
    const int x0 = ColumnX(line, m.column), x1 = ColumnX(line, m.column + m.length);
    QScrollBar* hb = horizontalScrollBar();
    if (x0 < hb->value() || x1 > hb->value() + viewport()->width()) hb->setValue(x0 - viewport()->width() / 3);
}
