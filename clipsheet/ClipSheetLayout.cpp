#include "clipsheet/ClipSheetLayout.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <limits>

#include "app/SceneList.h"
#include "platform/Platform.h"
#include "progress/PictureCache.h"
#include "progress/PictureImages.h"

namespace qv {

namespace {

const QColor kDamageMark(0xd6, 0x27, 0x28);  // the tape map's colour of damage

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGrey(kNoPictureGrey);

QRect Q(const SheetRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

// A font asked for by its height only, meaning the whole line: ascent and descent
// together at most height pixels of device (a pixel size is the em, which most faces
// exceed by a sixth). 0 or less leaves the device's default size, as a font of
// height 0 does.
QFont FontOfHeight(int height, QPaintDevice& device) {
    QFont font;
    if (height <= 0) {
        return font;
    }
    font.setPixelSize(height);
    const int whole = QFontMetrics(font, &device).height();
    if (whole > height) {
        int size = std::max(1, static_cast<int>(int64_t{height} * height / whole));
        font.setPixelSize(size);
        // Rounded metrics may still exceed by a pixel.
        while (size > 1 && QFontMetrics(font, &device).height() > height) {
            font.setPixelSize(--size);
        }
    }
    return font;
}

int ClampToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
}

}  // namespace

QString FittedText(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) {
        return text;
    }
    const QString ellipsis(QChar(0x2026));
    for (qsizetype space = text.lastIndexOf(' '); space > 0;
         space = text.lastIndexOf(' ', space - 1)) {
        const QString shorter = text.left(space + 1) + ellipsis;
        if (metrics.horizontalAdvance(shorter) <= width) {
            return shorter;
        }
    }
    return metrics.elidedText(text, Qt::ElideRight, width);
}

ClipSheetLayout::ClipSheetLayout(PictureCache* pictureCache, std::string codecSetting)
    : cache(pictureCache), decoder_(std::move(codecSetting)) {}

ClipSheetLayout::~ClipSheetLayout() {
    // The decoder lets go of the stream before the reader that owns it goes.
    decoder_.Detach();
    reader_.reset();
}

uint32_t ClipSheetLayout::Now() const { return clock ? clock() : TickCount(); }

bool ClipSheetLayout::OpenSceneSource(const std::string& path) {
    if (reader_ != nullptr && SameFile(reader_->FileName(), path)) {
        return true;
    }
    // Drop the stream first (the decoder itself stays open), then its reader.
    decoder_.Attach(path, nullptr, kCropMargin);
    if (readFailure_.empty() && reader_ != nullptr && reader_->ReadError() != 0) {
        readFailure_ = WithReason("Can't read this file. " + reader_->FileName(),
                                  reader_->FileName(), reader_->ReadError());
    }
    reader_.reset();
    int error = 0;
    reader_ = OpenAviFile(path, &error);
    if (readFailure_.empty() && error != 0) {
        readFailure_ = WithReason("Can't read this file. " + path, path, error);
    }
    AviStream* stream = reader_ != nullptr ? reader_->Stream(0) : nullptr;
    decoder_.Attach(path, stream, kCropMargin);
    return reader_ != nullptr;
}

std::string ClipSheetLayout::ReadFailure() const {
    if (readFailure_.empty() && reader_ != nullptr && reader_->ReadError() != 0) {
        return WithReason("Can't read this file. " + reader_->FileName(), reader_->FileName(),
                          reader_->ReadError());
    }
    return readFailure_;
}

bool ClipSheetLayout::FirstOfScene(size_t k) const {
    return k == 0 || (k < cells.size() && cells[k - 1].sceneIndex != cells[k].sceneIndex);
}

bool ClipSheetLayout::LastOfScene(size_t k) const {
    return k + 1 >= cells.size() || cells[k + 1].sceneIndex != cells[k].sceneIndex;
}

std::string ClipSheetLayout::TimeText(const SceneList& scenes, size_t k) const {
    if (k >= cells.size() || cells[k].sceneIndex < 0 || cells[k].sceneIndex >= scenes.Count()) {
        return {};
    }
    const ClipCell& cell = cells[k];
    const Scene& scene = scenes[cell.sceneIndex];
    if (FirstOfScene(k)) {
        return FormatFrameTime(ClampToInt(int64_t{scene.firstFrame} + cell.timecodeBase)) + " [" +
               FormatFrameTime(scene.frameCount) + "]";
    }
    return FormatFrameTime(ClampToInt(int64_t{cell.frame} + cell.timecodeBase));
}

std::string ClipSheetLayout::NameText(const SceneList& scenes, size_t k) const {
    if (k >= cells.size() || !FirstOfScene(k) || cells[k].sceneIndex < 0 ||
        cells[k].sceneIndex >= scenes.Count()) {
        return {};
    }
    return SplitPath(scenes[cells[k].sceneIndex].outputName).name;
}

int ClipSheetLayout::HitTest(int x, int y) const {
    for (size_t k = cells.size(); k-- > 0;) {
        if (cells[k].rect.Contains(x, y)) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

void ClipSheetLayout::DrawCross(QPainter& painter, const SheetRect& r) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(kRed, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawLine(r.left + 4, r.top + 4, r.right - 5, r.bottom - 5);
    painter.drawLine(r.left + 4, r.bottom - 5, r.right - 5, r.top + 4);
    painter.restore();
}

int ClipSheetLayout::PaintSheet(QPaintDevice& device, QPainter* painter, const SceneList& scenes,
                                const SheetRect& clip, bool wholeCells) {
    const int width = clientRect.Width();
    textLines = (settings.showTimecode != 0 ? 1 : 0) + (settings.showFileNames != 0 ? 1 : 0) +
                settings.spaceBelowText;
    lastVisibleBottom = -1;
    if (painter != nullptr) {
        painter->save();
        painter->setClipRect(Q(clip));
        painter->fillRect(Q(clip), kWhite);
    }
    cells.clear();

    const int picsPerLine = std::max(1, settings.picsPerLine);
    const int slot = width / picsPerLine;
    rowGap = std::max(1, slot / 20);
    pictureWidth = slot - rowGap;
    pictureHeight = pictureWidth * 3 / 4;

    // A tenth narrower than the face's own: at the default size a time and its length
    // then fit under their picture.
    QFont textFont =
        FontOfHeight(ClampToInt(int64_t{pictureHeight} * settings.fontSize / 64), device);
    textFont.setStretch(90);
    const QFontMetrics textMetrics(textFont, &device);
    lineHeight = textMetrics.height() + 1;

    const int framesPerPicture =
        static_cast<int>(static_cast<float>(settings.secsPerPic) * framesPerSecond);
    totalHeight = 0;

    const int pitch = std::max(1, pictureWidth + columnGap);
    const int columns = std::max(1, width / pitch);
    // The setting follows the laid-out count, up to what the options accept:
    // beyond that every repaint would lay out more and smaller pictures.
    settings.picsPerLine = std::min(columns, kPicsPerLineRange.max);
    leftMargin = (width - (columns - 1) * columnGap - columns * pictureWidth) / 2;

    int y0 = topMargin;
    if (!settings.headline.empty()) {
        const QFont headFont =
            FontOfHeight(ClampToInt(int64_t{settings.fontSize} * pictureHeight / 32), device);
        const QFontMetrics headMetrics(headFont, &device);
        const QString text = QString::fromLocal8Bit(settings.headline.c_str());
        if (painter != nullptr) {
            painter->setFont(headFont);
            painter->setPen(kBlack);
            painter->drawText(QRect(leftMargin, topMargin - scrollOffset,
                                    std::numeric_limits<int>::max() / 4, headMetrics.height()),
                              Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine |
                                  Qt::TextExpandTabs | Qt::TextDontClip,
                              text);
        }
        y0 += headMetrics.height();
        totalHeight += headMetrics.height();
    }
    if (painter != nullptr) {
        painter->setFont(textFont);
    }

    // The cells, each scene's pictures running evenly from its first frame to
    // its last.
    int64_t cumulative = 0;
    for (int i = 0; i < scenes.Count(); ++i) {
        const Scene& scene = scenes[i];
        if (printMode == 1 && scene.write == 0) {
            continue;
        }
        int64_t n = framesPerPicture > 0
                        ? (int64_t{scene.frameCount} + framesPerPicture - 1) / framesPerPicture
                        : 0;
        n = std::max<int64_t>(n, settings.picsPerScene);
        const double step =
            n > 1 ? (static_cast<double>(scene.frameCount) - 1) / static_cast<double>(n - 1) : 0.0;
        const int base = settings.timecodeOffset != 0
                             ? ClampToInt(settings.timecodeOffset + cumulative - scene.firstFrame)
                             : 0;
        for (int64_t j = 0; j < n; ++j) {
            ClipCell cell;
            cell.sceneIndex = i;
            cell.frame = n == 1 ? ClampToInt(int64_t{scene.firstFrame} + scene.frameCount / 2)
                                : ClampToInt(static_cast<int64_t>(
                                      scene.firstFrame + static_cast<double>(j) * step + 0.5));
            cell.timecodeBase = base;
            cells.push_back(cell);
        }
        // Also a scene without pictures advances the running time.
        cumulative += scene.frameCount;
    }

    const int textHeight = textLines * lineHeight;
    const int rowPitch = textHeight + rowGap + pictureHeight;
    const bool window = printMode == 0;
    for (size_t k = 0; k < cells.size(); ++k) {
        ClipCell& cell = cells[k];
        const Scene& scene = scenes[cell.sceneIndex];
        const int row = static_cast<int>(k / static_cast<size_t>(columns));
        const int col = static_cast<int>(k % static_cast<size_t>(columns));
        const int top = ClampToInt(int64_t{y0} + int64_t{row} * rowPitch);
        const int left = leftMargin + col * (pictureWidth + columnGap);
        totalHeight = std::max(
            totalHeight, ClampToInt(int64_t{top} + pictureHeight + textHeight + topMargin));

        const int t = top - scrollOffset;
        const int b = t + pictureHeight + textHeight;
        const bool inClip = wholeCells ? b <= clip.bottom && t >= clip.top
                                       : t <= clip.bottom && b >= clip.top;
        if (inClip) {
            lastVisibleBottom = b + scrollOffset;
        }
        // Without a painter the sheet is only laid out.
        const bool visible = inClip && painter != nullptr;

        SheetRect r{left, t, left + pictureWidth, t + pictureHeight};
        if (FirstOfScene(k)) {
            r.left += 2;
            if (visible) {
                painter->fillRect(QRect(r.left, r.bottom, 1, textHeight), kBlack);
            }
        }
        if (LastOfScene(k)) {
            r.right -= 2;
            if (visible) {
                painter->fillRect(QRect(r.right, r.bottom, 1, textHeight), kBlack);
            }
        }
        cell.rect = r;
        if (!visible) {
            continue;
        }

        // The picture.
        CachedPicture* cached = cache != nullptr
                                    ? cache->Find(scene.sourceFile, cell.frame, r.Width(), r.Height())
                                    : nullptr;
        if (cached != nullptr) {
            painter->drawImage(r.left, r.top, ImageOf(cached->bitmap));
            cell.available = 1;
        } else if (window) {
            cell.pending = 1;
        } else {
            OpenSceneSource(scene.sourceFile);
            ++renderCount_;
            if (cache != nullptr) {
                cached = cache->Add(std::make_unique<CachedPicture>(
                    decoder_.FileName(), cell.frame, r.Width(), r.Height(),
                    RenderFrame(decoder_, cell.frame, r.Width(), r.Height(), true)));
                if (cached != nullptr) {
                    painter->drawImage(r.left, r.top, ImageOf(cached->bitmap));
                }
            } else if (r.Width() > 0 && r.Height() > 0 &&
                       !DrawFrame(*painter, decoder_, cell.frame, Q(r), true)) {
                painter->fillRect(Q(r), kGrey);
            }
            cell.available = 1;
        }

        // The underline reaches the next picture of the same scene.
        painter->fillRect(QRect(r.left, r.bottom + textHeight, r.Width() + columnGap, 1), kBlack);
        if (scene.write == 0) {
            DrawCross(*painter, r);
        }

        // The texts, each opaque on white and clipped to its line.
        SheetRect line{r.left + 1, r.bottom, r.right - 1, r.bottom + lineHeight};
        auto drawLine = [&](const std::string& text, bool inParts) {
            painter->save();
            painter->setClipRect(Q(line), Qt::IntersectClip);
            painter->fillRect(Q(line), kWhite);
            painter->setPen(kBlack);
            const QString whole = QString::fromLocal8Bit(text.c_str());
            const int room = line.Width();
            painter->drawText(QPoint(line.left, line.top + textMetrics.ascent()),
                              inParts ? FittedText(whole, textMetrics, room)
                                      : textMetrics.elidedText(whole, Qt::ElideRight, room));
            painter->restore();
        };
        if (settings.showTimecode != 0) {
            drawLine(TimeText(scenes, k), true);
            line.top += lineHeight;
            line.bottom += lineHeight;
        }
        if (FirstOfScene(k) && settings.showFileNames != 0) {
            drawLine(NameText(scenes, k), false);
        }
        // A damaged scene: a red square at the end of its first picture's first text
        // line, on paper too, where the sheet helps choose what to capture again.
        if (FirstOfScene(k) && scene.health.Damaged() && textHeight > 0) {
            const int side = std::max(3, lineHeight - 4);
            painter->fillRect(QRect(r.right - side - 1, r.bottom + (lineHeight - side) / 2, side, side),
                              kDamageMark);
        }
    }

    if (lastVisibleBottom < 0) {
        lastVisibleBottom = totalHeight;
    }
    if (painter != nullptr) {
        painter->restore();
    }
    return 1;
}

void ClipSheetLayout::DrawCachedOrRender(QPainter& painter, const SceneList& scenes,
                                         ClipCell& cell) {
    const Scene& scene = scenes[cell.sceneIndex];
    const SheetRect& r = cell.rect;
    OpenSceneSource(scene.sourceFile);
    CachedPicture* cached =
        cache != nullptr ? cache->Find(decoder_.FileName(), cell.frame, r.Width(), r.Height())
                         : nullptr;
    if (cached == nullptr && cache != nullptr) {
        ++renderCount_;
        cached = cache->Add(std::make_unique<CachedPicture>(
            decoder_.FileName(), cell.frame, r.Width(), r.Height(),
            RenderFrame(decoder_, cell.frame, r.Width(), r.Height(), true)));
    }
    if (cached != nullptr) {
        painter.drawImage(r.left, r.top, ImageOf(cached->bitmap));
    } else {
        ++renderCount_;
        if (!DrawFrame(painter, decoder_, cell.frame, Q(r), true)) {
            painter.fillRect(Q(r), kGrey);
        }
    }
    cell.available = 1;
    cell.pending = 0;
    if (scene.write == 0) {
        DrawCross(painter, r);
    }
}

std::vector<SheetRect> ClipSheetLayout::PaintPending(QPainter& painter, const SceneList& scenes) {
    std::vector<SheetRect> drawn;
    const uint32_t start = Now();
    // |now - start| on the wrapping 32-bit tick.
    auto sliceOver = [&] {
        const uint32_t elapsed = Now() - start;
        return std::min(elapsed, 0u - elapsed) >= kSliceMilliseconds;
    };
    auto valid = [&](const ClipCell& cell) {
        return cell.sceneIndex >= 0 && cell.sceneIndex < scenes.Count();
    };

    if (scrolled != 0) {
        for (ClipCell& cell : cells) {
            if (sliceOver()) {
                break;
            }
            const SheetRect& r = cell.rect;
            cell.pending = clientRect.Contains(r.left, r.top) ||
                                   clientRect.Contains(r.right - 1, r.bottom - 1)
                               ? 1
                               : 0;
        }
        scrolled = 0;
    }

    // Draw what is waiting, top-left first.
    for (ClipCell& cell : cells) {
        if (sliceOver()) {
            return drawn;
        }
        if (cell.pending == 0 || !valid(cell)) {
            continue;
        }
        if (cell.rect.Width() <= 0 || cell.rect.Height() <= 0) {
            cell.available = 1;
            cell.pending = 0;
            continue;
        }
        DrawCachedOrRender(painter, scenes, cell);
        drawn.push_back(cell.rect);
    }

    // Decode ahead while the cache has room; nothing is drawn.
    if (cache == nullptr) {
        return drawn;
    }
    const auto full = [&] {
        return static_cast<int64_t>(cache->Count()) * cache->BytesPerPicture() > cache->Budget();
    };
    if (full()) {
        return drawn;
    }
    for (ClipCell& cell : cells) {
        if (cell.available != 0 || !valid(cell)) {
            continue;
        }
        if (sliceOver()) {
            break;
        }
        const SheetRect& r = cell.rect;
        const Scene& scene = scenes[cell.sceneIndex];
        if (r.Width() <= 0 || r.Height() <= 0 ||
            cache->Find(scene.sourceFile, cell.frame, r.Width(), r.Height()) != nullptr) {
            cell.available = 1;
            continue;
        }
        OpenSceneSource(scene.sourceFile);
        ++renderCount_;
        cache->Add(std::make_unique<CachedPicture>(
            decoder_.FileName(), cell.frame, r.Width(), r.Height(),
            RenderFrame(decoder_, cell.frame, r.Width(), r.Height(), true)));
        cell.available = 1;
    }
    return drawn;
}

int PrintSheet(QPagedPaintDevice& printer, const ClipSheetLayout& window, const SceneList& scenes,
               const std::string& codecSetting, std::string* readFailure) {
    const int w = printer.width();
    const int h = printer.height();
    ClipSheetLayout print(nullptr, codecSetting);
    print.printMode = 1;
    print.settings = window.settings;
    print.clientRect = SheetRect{0, 0, w, h};
    print.lastVisibleBottom = 0;

    // Measure: no cell drawn, the sheet's height known.
    print.PaintSheet(printer, nullptr, scenes, SheetRect{0, 0, 0, 0}, true);

    int pages = 0;
    QPainter painter;
    int pageTop = 0;
    while (pageTop < print.totalHeight - print.topMargin) {
        if (pages == 0) {
            if (!painter.begin(&printer)) {
                return -1;
            }
        } else if (!printer.newPage()) {
            break;
        }
        ++pages;
        print.scrollOffset = pageTop;
        print.PaintSheet(printer, &painter, scenes, SheetRect{0, 0, w, h}, true);
        // A page on which nothing fitted has set the bottom to the sheet's end.
        pageTop = std::max(print.lastVisibleBottom, pageTop + 1);
    }
    if (pages > 0) {
        painter.end();
    }
    if (readFailure != nullptr) {
        *readFailure = print.ReadFailure();
    }
    return pages;
}

}  // namespace qv
