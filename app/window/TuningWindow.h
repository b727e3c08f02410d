// 感度調整: the live tuning window. Shows the motion check's picture with what it counts as
// motion, the current mode's ignore mask (drawn with the mouse), the level of the last minute
// against the sensitivity, and the check's switch and values. Every change is saved and
// applied at once; monitoring goes on while it is open.
#pragma once

#include <QWidget>
#include <deque>
#include <vector>

#include "app/settings/Settings.h"
#include "core/detect/MotionMask.h"

class QCheckBox;
class QLabel;
class QSpinBox;

namespace qv::engine {
class MonitorEngine;
}

namespace qv::window {

// The check's picture with the mask over it. Left clicks add the corners of a polygon, a
// double click (or the right button) closes it; a left drag draws a rectangle.
class MaskCanvas : public QWidget {
    Q_OBJECT
  public:
    explicit MaskCanvas(QWidget* parent);
    void SetPicture(int gridWidth, const std::vector<uint8_t>& cells,
                    const std::vector<uint8_t>& luma, std::vector<QRectF> blobs);
    void SetMask(const detect::MaskPolygons& mask);
    const detect::MaskPolygons& Mask() const { return mask_; }
    // The polygon being drawn (picture coordinates 0..1).
    const detect::MaskPolygon& Open() const { return open_; }

  signals:
    void MaskEdited();

  protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

  private:
    detect::MaskPoint ToPicture(QPointF p) const;
    QPointF ToWidget(detect::MaskPoint p) const;
    void Close();

    QImage picture_;             // luma with the cells tinted
    std::vector<QRectF> blobs_;  // 0..1
    detect::MaskPolygons mask_;
    detect::MaskPolygon open_;
    QPointF pressAt_;
    QPointF dragTo_;
    bool dragging_ = false;
};

// The level of the last minute against the sensitivity line.
class LevelGraph : public QWidget {
  public:
    explicit LevelGraph(QWidget* parent);
    void Add(int level, int sensitivity);
    const std::deque<int>& Levels() const { return levels_; }

  protected:
    void paintEvent(QPaintEvent* e) override;

  private:
    std::deque<int> levels_;
    int sensitivity_ = 0;
};

class TuningWindow : public QWidget {
    Q_OBJECT
  public:
    // How often the view follows the engine; the graph keeps a minute of samples.
    static constexpr int kRefreshMs = 250;
    static constexpr int kGraphSamples = 60000 / kRefreshMs;

    TuningWindow(engine::MonitorEngine& engine, QWidget* parent = nullptr);
    // One refresh (the timer calls it; tests too).
    void Refresh();
    MaskCanvas* Canvas() const { return canvas_; }
    LevelGraph* Graph() const { return graph_; }

  protected:
    void timerEvent(QTimerEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

  private:
    void ShowMode();
    void Store();  // the controls and the mask into the mode's settings

    engine::MonitorEngine& engine_;
    int mode_ = -1;
    WarningSettings shown_;
    MaskCanvas* canvas_;
    LevelGraph* graph_;
    QCheckBox* check_;
    QSpinBox* noise_;
    QSpinBox* area_;
    QSpinBox* persist_;
    QLabel* modeLine_;
    QLabel* status_;
    int timer_ = 0;
    std::vector<uint8_t> cells_, luma_;
};

}  // namespace qv::window
