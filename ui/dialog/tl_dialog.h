#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <initializer_list>
#include <vector>

#include "resources/dialogs/dialog_template.h"
#include "ui/dialog/dialog_builder.h"

class QDialog;

// A dialog object and its window made from a dialog template. The object outlives its window:
// Create makes a new window each time (running OnInitDialog on it), DestroyWindow throws it away,
// and the next Create starts afresh. A child template makes a plain child widget of the parent;
// any other makes a window of its own with a caption, which "OK" (command 1), "Cancel" (command
// 2), Escape and the close button only hide.
class TlDialog : public QObject {
    Q_OBJECT
  public:
    explicit TlDialog(int template_id, QObject* parent = nullptr);
    ~TlDialog() override;
    TlDialog(const TlDialog&) = delete;
    TlDialog& operator=(const TlDialog&) = delete;

    int template_id() const { return template_id_; }
    const dialogs::DialogTemplate* dialog_template() const { return template_; }

    // Makes the window (a child of parent for a child template); false if the template is
    // unknown or a window exists already.
    bool Create(QWidget* parent = nullptr);
    void DestroyWindow();
    // The window, or null when there is none.
    QWidget* window() const { return window_; }

    // The control with that id in the current window, or null.
    QWidget* GetDlgItem(int id) const;
    template <class Widget>
    Widget* Item(int id) const {
        return qobject_cast<Widget*>(GetDlgItem(id));
    }
    void SetDlgItemText(int id, const QString& text);
    // Sets each control's text to the localized text its template row names.
    void SetLocalizedTexts(std::initializer_list<int> ids);

  protected:
    // Runs once per window, after its controls are made.
    virtual bool OnInitDialog() { return true; }
    // The window's own confirm and cancel: both hide a captioned window.
    virtual void OnOK();
    virtual void OnCancel();

  private:
    int template_id_;
    const dialogs::DialogTemplate* template_;
    QPointer<QWidget> window_;
    std::vector<TlBuiltControl> controls_;
};
