#include "app/window/TuningWindow.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "app/engine/Engine.h"

namespace qv::window {
namespace {

constexpr int kCanvasWidth = 480, kCanvasHeight = 360;
constexpr double kDragPixels = 6;  // a press that moves farther draws a rectangle

// Tints of the check's cells: changed above the noise, counting motion, masked.
QRgb CellColour(uint8_t cell, uint8_t luma) {
    const int y = luma;
    switch (cell) {
        case 1:
            return qRgb((y + 255) / 2, (y + 220) / 2, y / 2);
        case 2:
            return qRgb(255, y / 3, y / 3);
        case 3:
            return qRgb(y / 2, y / 2, (y + 160) / 2);
        default:
            return qRgb(y, y, y);
    }
}

}  // namespace

// ---------------------------------------------------------------- the picture and the mask

MaskCanvas::MaskCanvas(QWidget* parent) : QWidget(parent) {
    setFixedSize(kCanvasWidth, kCanvasHeight);
    setMouseTracking(false);
    setCursor(Qt::CrossCursor);
    setToolTip(QStringLiteral(
        "クリックで頂点を置き、ダブルクリック（または右クリック）で無視する領域を閉じます。"
        "ドラッグで四角形の領域を描きます。"));
}

void MaskCanvas::SetPicture(int gridWidth, const std::vector<uint8_t>& cells,
                            const std::vector<uint8_t>& luma, std::vector<QRectF> blobs) {
    const int gridHeight = gridWidth > 0 ? static_cast<int>(cells.size()) / gridWidth : 0;
    if (gridWidth <= 0 || gridHeight <= 0 || luma.size() != cells.size()) {
        picture_ = QImage();
    } else {
        picture_ = QImage(gridWidth, gridHeight, QImage::Format_RGB32);
        for (int y = 0; y < gridHeight; ++y) {
            auto* row = reinterpret_cast<QRgb*>(picture_.scanLine(y));
            for (int x = 0; x < gridWidth; ++x) {
                const size_t i = size_t(y) * size_t(gridWidth) + size_t(x);
                row[x] = CellColour(cells[i], luma[i]);
            }
        }
    }
    blobs_ = std::move(blobs);
    update();
}

void MaskCanvas::SetMask(const detect::MaskPolygons& mask) {
    mask_ = mask;
    open_.clear();
    update();
}

detect::MaskPoint MaskCanvas::ToPicture(QPointF p) const {
    return {static_cast<float>(std::clamp(p.x() / width(), 0.0, 1.0)),
            static_cast<float>(std::clamp(p.y() / height(), 0.0, 1.0))};
}

QPointF MaskCanvas::ToWidget(detect::MaskPoint p) const {
    return {p.x * width(), p.y * height()};
}

void MaskCanvas::Close() {
    if (open_.size() >= 3 && mask_.size() < detect::kMaxMaskPolygons) {
        mask_.push_back(open_);
        open_.clear();
        emit MaskEdited();
    }
    open_.clear();
    update();
}

void MaskCanvas::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        Close();
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    pressAt_ = dragTo_ = e->position();
    dragging_ = false;
}

void MaskCanvas::mouseMoveEvent(QMouseEvent* e) {
    if (!(e->buttons() & Qt::LeftButton)) return;
    dragTo_ = e->position();
    if (QLineF(pressAt_, dragTo_).length() > kDragPixels) dragging_ = true;
    if (dragging_) update();
}

void MaskCanvas::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (dragging_) {
        dragging_ = false;
        const detect::MaskPoint a = ToPicture(pressAt_), b = ToPicture(e->position());
        if (a.x != b.x && a.y != b.y && mask_.size() < detect::kMaxMaskPolygons) {
            mask_.push_back({{a.x, a.y}, {b.x, a.y}, {b.x, b.y}, {a.x, b.y}});
            emit MaskEdited();
        }
    } else if (open_.size() < detect::kMaxMaskPoints) {
        const detect::MaskPoint p = ToPicture(e->position());
        // The second click of a double click lands on the point the first one placed.
        if (open_.empty() || !(open_.back() == p)) open_.push_back(p);
    }
    update();
}

void MaskCanvas::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) Close();
}

void MaskCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (picture_.isNull()) {
        p.fillRect(rect(), QColor(40, 40, 40));
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("映像を待っています"));
    } else {
        p.drawImage(rect(), picture_);
    }
    p.setRenderHint(QPainter::Antialiasing);
    // What the check counts as motion.
    p.setPen(QPen(QColor(255, 40, 40), 2));
    p.setBrush(Qt::NoBrush);
    for (const QRectF& b : blobs_)
        p.drawRect(
            QRectF(b.x() * width(), b.y() * height(), b.width() * width(), b.height() * height()));
    // The mask.
    p.setPen(QPen(QColor(80, 160, 255), 1.5));
    p.setBrush(QColor(40, 110, 255, 90));
    for (const auto& polygon : mask_) {
        QPolygonF shape;
        for (const auto& pt : polygon) shape << ToWidget(pt);
        p.drawPolygon(shape, Qt::OddEvenFill);
    }
    // What is being drawn.
    p.setPen(QPen(QColor(255, 230, 60), 1.5, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    if (dragging_) p.drawRect(QRectF(pressAt_, dragTo_).normalized());
    QPolygonF open;
    for (const auto& pt : open_) open << ToWidget(pt);
    p.drawPolyline(open);
    for (const QPointF& pt : open) p.drawEllipse(pt, 3, 3);
}

// ---------------------------------------------------------------- the level graph

LevelGraph::LevelGraph(QWidget* parent) : QWidget(parent) {
    setMinimumSize(kCanvasWidth, 120);
    setToolTip(QStringLiteral("直近60秒の動体検知レベルと感度（赤い線）"));
}

void LevelGraph::Add(int level, int sensitivity) {
    levels_.push_back(level);
    while (levels_.size() > size_t(TuningWindow::kGraphSamples)) levels_.pop_front();
    sensitivity_ = sensitivity;
    update();
}

void LevelGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(20, 28, 36));
    int top = std::max(1, sensitivity_ * 3 / 2);
    for (int level : levels_) top = std::max(top, level);
    const double h = height() - 4, w = width();
    auto yOf = [&](int level) { return 2 + h - h * std::min(level, top) / top; };
    const double step = w / (TuningWindow::kGraphSamples - 1);
    QPolygonF line;
    const double x0 = w - step * (double(levels_.size()) - 1);
    for (size_t i = 0; i < levels_.size(); ++i)
        line << QPointF(x0 + step * double(i), yOf(levels_[i]));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 220, 120), 1.5));
    p.drawPolyline(line);
    p.setPen(QPen(QColor(255, 70, 70), 1, Qt::DashLine));
    p.drawLine(QPointF(0, yOf(sensitivity_)), QPointF(w, yOf(sensitivity_)));
    p.setPen(Qt::white);
    p.drawText(QRectF(4, 2, w - 8, 16), Qt::AlignLeft,
               QStringLiteral("レベル %1 / 感度 %2")
                   .arg(levels_.empty() ? 0 : levels_.back())
                   .arg(sensitivity_));
}

// ---------------------------------------------------------------- the window

TuningWindow::TuningWindow(engine::MonitorEngine& engine, QWidget* parent)
    : QWidget(parent, Qt::Window), engine_(engine) {
    setWindowTitle(QStringLiteral("感度調整"));
    canvas_ = new MaskCanvas(this);
    graph_ = new LevelGraph(this);
    modeLine_ = new QLabel(this);
    status_ = new QLabel(this);
    status_->setMinimumWidth(220);
    status_->setWordWrap(true);
    check_ = new QCheckBox(QStringLiteral("動き判定を使用する"), this);
    check_->setObjectName(QStringLiteral("motionCheck"));
    check_->setToolTip(QStringLiteral(
        "オンにすると、ノイズや明るさの変化を除き、人の動きだけを動体検知とします。"));
    auto spin = [this](int32_t WarningSettings::*member, const char* name, const char* tip) {
        auto* s = new QSpinBox(this);
        const SettingKey& k = KeyOf(member);
        s->setRange(k.Min, k.Max);
        s->setObjectName(QString::fromUtf8(name));
        s->setToolTip(QString::fromUtf8(tip));
        return s;
    };
    noise_ = spin(&WarningSettings::MotionCheckNoise, "checkNoise",
                  "ノイズの何倍（1/10単位）を超える変化を動きとするか。大きいほど鈍感です。");
    area_ = spin(&WarningSettings::MotionCheckArea, "checkArea",
                 "動きとみなす最小の面積（画面の0.1%単位）。大きいほど小さな物を無視します。");
    persist_ = spin(&WarningSettings::MotionCheckMs, "checkMs",
                    "動きが何ミリ秒続いたら動体検知とするか。");
    persist_->setSingleStep(100);
    auto* undo = new QPushButton(QStringLiteral("最後の領域を消す"), this);
    undo->setObjectName(QStringLiteral("maskUndo"));
    auto* clear = new QPushButton(QStringLiteral("マスクを全部消す"), this);
    clear->setObjectName(QStringLiteral("maskClear"));

    auto* values = new QGridLayout;
    values->addWidget(modeLine_, 0, 0, 1, 2);
    values->addWidget(check_, 1, 0, 1, 2);
    values->addWidget(new QLabel(QStringLiteral("ノイズ倍率(×0.1)："), this), 2, 0);
    values->addWidget(noise_, 2, 1);
    values->addWidget(new QLabel(QStringLiteral("最小面積(0.1%)："), this), 3, 0);
    values->addWidget(area_, 3, 1);
    values->addWidget(new QLabel(QStringLiteral("持続(ms)："), this), 4, 0);
    values->addWidget(persist_, 4, 1);
    values->addWidget(status_, 5, 0, 1, 2);
    values->setRowStretch(6, 1);
    auto* legend = new QLabel(
        QStringLiteral("赤枠・赤：動きと判定　黄：ノイズを超える変化　青：マスク（無視する領域）"),
        this);
    legend->setWordWrap(true);
    values->addWidget(legend, 7, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(undo);
    buttons->addWidget(clear);
    buttons->addStretch(1);
    auto* left = new QVBoxLayout;
    left->addWidget(canvas_);
    left->addLayout(buttons);
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addLayout(values);
    auto* box = new QVBoxLayout(this);
    box->addLayout(top);
    box->addWidget(graph_);

    connect(check_, &QCheckBox::toggled, this, [this] { Store(); });
    for (QSpinBox* s : {noise_, area_, persist_})
        connect(s, &QSpinBox::valueChanged, this, [this] { Store(); });
    connect(canvas_, &MaskCanvas::MaskEdited, this, [this] { Store(); });
    connect(undo, &QPushButton::clicked, this, [this] {
        auto mask = canvas_->Mask();
        if (mask.empty()) return;
        mask.pop_back();
        canvas_->SetMask(mask);
        Store();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        canvas_->SetMask({});
        Store();
    });
    ShowMode();
}

void TuningWindow::ShowMode() {
    mode_ = engine_.CurrentMode();
    shown_ = engine_.Settings()->Warning[static_cast<size_t>(mode_)];
    modeLine_->setText(QStringLiteral("動作モード%1").arg(mode_ + 1));
    {
        const QSignalBlocker b1(check_), b2(noise_), b3(area_), b4(persist_);
        check_->setChecked(shown_.MotionCheck != 0);
        noise_->setValue(shown_.MotionCheckNoise);
        area_->setValue(shown_.MotionCheckArea);
        persist_->setValue(shown_.MotionCheckMs);
    }
    detect::MaskPolygons mask;
    detect::ParseMask(shown_.MotionMask, mask);  // the settings refuse a bad one
    canvas_->SetMask(mask);
}

void TuningWindow::Store() {
    // Only the check's keys: other values may have changed in a settings dialog meanwhile.
    WarningSettings w = engine_.Settings()->Warning[static_cast<size_t>(mode_)];
    w.MotionCheck = check_->isChecked() ? 1 : 0;
    w.MotionCheckNoise = noise_->value();
    w.MotionCheckArea = area_->value();
    w.MotionCheckMs = persist_->value();
    w.MotionMask = detect::FormatMask(canvas_->Mask());
    if (w.MotionMask.size() >= kIniValueBufferSize) {
        // More than the settings file keeps: the last area is not taken.
        w.MotionMask = shown_.MotionMask;
        detect::MaskPolygons kept;
        detect::ParseMask(shown_.MotionMask, kept);
        canvas_->SetMask(kept);
        status_->setText(QStringLiteral("これ以上マスクの領域を増やせません"));
    }
    if (w == shown_) return;
    shown_ = w;
    engine_.ChangeModeSettings(mode_, w);
}

void TuningWindow::Refresh() {
    if (engine_.CurrentMode() != mode_) ShowMode();
    const auto s = engine_.Settings();
    const WarningSettings& w = s->Warning[static_cast<size_t>(mode_)];
    if (w.MotionCheck != shown_.MotionCheck ||
        engine::MotionCheckOf(w) != engine::MotionCheckOf(shown_))
        ShowMode();  // changed in the warning settings dialog
    graph_->Add(engine_.LastLevelShown(), engine::AtLeastOne(w.MotionSensitivity));

    engine::MotionCheckVerdict verdict;
    if (engine_.MotionCheckState(verdict) && engine_.MotionCheckGrid(cells_, luma_) &&
        verdict.GridWidth > 0 &&
        cells_.size() == size_t(verdict.GridWidth) * size_t(verdict.GridHeight)) {
        std::vector<QRectF> blobs;
        for (const auto& b : verdict.Blobs)
            blobs.emplace_back(double(b.X0) / verdict.GridWidth, double(b.Y0) / verdict.GridHeight,
                               double(b.X1 - b.X0) / verdict.GridWidth,
                               double(b.Y1 - b.Y0) / verdict.GridHeight);
        canvas_->SetPicture(verdict.GridWidth, cells_, luma_, std::move(blobs));
        QString text = QStringLiteral("ノイズ：%1").arg(verdict.NoiseTenths / 10.0, 0, 'f', 1);
        if (verdict.LightChange) text += QStringLiteral("　明るさの変化");
        if (verdict.SceneChange) text += QStringLiteral("　画面全体の変化");
        if (verdict.Confirmed)
            text += QStringLiteral("　動きを確認");
        else if (verdict.Moving)
            text += QStringLiteral("　動き");
        if (w.MotionCheck == 0) text += QStringLiteral("\n（判定はオフ：レベルで検知中）");
        status_->setText(text);
    } else {
        canvas_->SetPicture(0, {}, {}, {});
        status_->setText(QStringLiteral("映像を待っています"));
    }
}

void TuningWindow::timerEvent(QTimerEvent*) {
    Refresh();
}

void TuningWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    ShowMode();
    if (!timer_) timer_ = startTimer(kRefreshMs);
    Refresh();
}

void TuningWindow::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    if (timer_) killTimer(timer_);
    timer_ = 0;
}

}  // namespace qv::window
