#pragma once
// The main window "Velmora": holds the parameters, opens the parameter
// dialog, starts a run on a worker thread and shows its progress and the
// lines it writes. It stays open after a run, whatever the run's end.

#include <QDialog>

class QCheckBox;

#include "exchange.hpp"
#include "run_thread.hpp"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace velmora::gui {

class VelmoraDlg : public QDialog {
    Q_OBJECT
  public:
    // seedings: the process's seeding count, which every run of this window
    // continues; it must outlive the window.
    VelmoraDlg(RunFunction run_function, SeedingCounter& seedings, QWidget* parent = nullptr);
    ~VelmoraDlg() override;

    // The parameters the next run uses; the dialog defaults until the
    // parameter dialog is closed with OK.
    const ParameterValues& parameters() const { return parameters_; }
    void set_parameters(const ParameterValues& values) { parameters_ = values; }

    bool run_under_way() const;

  public slots:
    void open_parameters();  // "Parameter"
    void start_run();        // OK
    void stop_run();         // "Stop"
    void show_about();
    // "Annulla", Escape and the close box. During a run it asks first.
    void reject() override;

  private slots:
    void show_generation(int generation);
    void show_replication(int replication);
    void append_message(const QString& text, bool error);
    void run_finished();

  private:
    void set_running(bool running);
    // A failure box: caption "Error", the error icon, one OK button.
    void show_error(const QString& text);

    ParameterValues parameters_;
    RunThread runner_;
    bool quit_after_run_ = false;

    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* parameter_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* generation_ = nullptr;
    QLabel* replication_ = nullptr;
    QSpinBox* threads_ = nullptr;
    QSpinBox* replications_ = nullptr;
    QCheckBox* refine_ = nullptr;
    QPlainTextEdit* messages_ = nullptr;
};

}  // namespace velmora::gui
