#pragma once
// A chart view whose picture can be saved as PNG or as SVG, from its context
// menu or from a button that calls save_with_dialog(). Every chart of the
// results area is one of these.

#include <QChartView>
#include <QString>

class QPushButton;

namespace velmora::gui {

class ChartView : public QChartView {
    Q_OBJECT
  public:
    // `file_stem` names the file the save dialog proposes ("search-chart").
    ChartView(QChart* chart, const QString& file_stem, QWidget* parent = nullptr);

    // Writes the chart as SVG when the path ends in ".svg" (any case), as PNG
    // otherwise. False when the file could not be written.
    bool save(const QString& path);

    // A "Save chart…" button wired to save_with_dialog().
    QPushButton* make_save_button(QWidget* parent);

  public slots:
    // Asks for a file with Qt's own dialog (the same on every desktop, and
    // scriptable in tests) and saves there. `svg` preselects SVG.
    void save_with_dialog(bool svg = false);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    QString file_stem_;
};

}  // namespace velmora::gui
