#include "ui/dialog/tl_dialog.h"

#include <QAbstractButton>
#include <QDialog>
#include <functional>

#include "shell/localization/localization.h"

namespace {

QString Loc(int id) {
    return QString::fromStdString(LoadLocString(id));
}

// A captioned dialog window that hands its confirm and cancel to the dialog object.
class TlDialogWindow : public QDialog {
  public:
    TlDialogWindow(QWidget* parent, std::function<void()> on_ok, std::function<void()> on_cancel)
        : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
          on_ok_(std::move(on_ok)),
          on_cancel_(std::move(on_cancel)) {}

    void accept() override { on_ok_(); }
    void reject() override { on_cancel_(); }
    void Hide() { QDialog::done(0); }

  private:
    std::function<void()> on_ok_;
    std::function<void()> on_cancel_;
};

}  // namespace

TlDialog::TlDialog(int template_id, QObject* parent)
    : QObject(parent),
      template_id_(template_id),
      template_(dialogs::FindDialogTemplate(template_id)) {}

TlDialog::~TlDialog() {
    DestroyWindow();
}

bool TlDialog::Create(QWidget* parent) {
    if (template_ == nullptr || window_ != nullptr) {
        return false;
    }
    QWidget* window = nullptr;
    if (template_->child) {
        window = new QWidget(parent);
    } else {
        window = new TlDialogWindow(
            parent, [this] { OnOK(); }, [this] { OnCancel(); });
        window->setWindowTitle(QString::fromUtf8(
            template_->caption.data(), static_cast<qsizetype>(template_->caption.size())));
    }
    window->setAutoFillBackground(true);
    controls_ = BuildDialogControls(*template_, *window, DialogFont(*template_));
    if (!template_->child) {
        window->setFixedSize(window->size());
        for (const TlBuiltControl& control : controls_) {
            if (auto* button = qobject_cast<QAbstractButton*>(control.widget.data())) {
                if (control.row->id == dialogs::kIdOk) {
                    connect(button, &QAbstractButton::clicked, this, [this] { OnOK(); });
                } else if (control.row->id == dialogs::kIdCancel) {
                    connect(button, &QAbstractButton::clicked, this, [this] { OnCancel(); });
                }
            }
        }
    }
    window_ = window;
    OnInitDialog();
    return true;
}

void TlDialog::DestroyWindow() {
    // Forgotten before it goes, so that nothing its controls report while they are torn down
    // reaches a half-destroyed window.
    QWidget* window = window_.data();
    window_ = nullptr;
    controls_.clear();
    delete window;
}

QWidget* TlDialog::GetDlgItem(int id) const {
    if (window_ == nullptr || id == dialogs::kNoId) {
        return nullptr;
    }
    for (const TlBuiltControl& control : controls_) {
        if (control.row->id == id) {
            return control.widget.data();
        }
    }
    return nullptr;
}

void TlDialog::SetDlgItemText(int id, const QString& text) {
    QWidget* widget = GetDlgItem(id);
    if (widget == nullptr) {
        return;
    }
    // Labels, buttons and edits carry their text in the property of that name.
    if (widget->metaObject()->indexOfProperty("text") >= 0) {
        widget->setProperty("text", text);
    }
}

void TlDialog::SetLocalizedTexts(std::initializer_list<int> ids) {
    if (template_ == nullptr) {
        return;
    }
    for (int id : ids) {
        if (const dialogs::DialogControl* row = template_->FindControl(id);
            row != nullptr && row->text_id != 0) {
            SetDlgItemText(id, Loc(row->text_id));
        }
    }
}

void TlDialog::OnOK() {
    if (auto* dialog = dynamic_cast<TlDialogWindow*>(window_.data())) {
        dialog->Hide();
    }
}

void TlDialog::OnCancel() {
    if (auto* dialog = dynamic_cast<TlDialogWindow*>(window_.data())) {
        dialog->Hide();
    }
}
