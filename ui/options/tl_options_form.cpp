#include "ui/options/tl_options_form.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include "ui/dialog/dialog_units.h"
#include "ui/dialog/tl_dialog.h"

TlOptionsForm::TlOptionsForm()
    : QWidget(nullptr),
      ok_(this),
      cancel_(this),
      separator_(this),
      heading_(this),
      tree_(kTreeId, this) {
    // Closing destroys the window and the window object with it.
    setAttribute(Qt::WA_DeleteOnClose);
}

TlOptionsForm::~TlOptionsForm() = default;

bool TlOptionsForm::Create() {
    PreCreateWindow();
    if (!OnCreate()) {
        return false;
    }
    return true;
}

void TlOptionsForm::PreCreateWindow() {
    // A caption with the system menu and close button; no sizing border, no minimize or
    // maximize box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Options"));
}

bool TlOptionsForm::OnCreate() {
    tree_.setGeometry(kTreeRect);

    heading_.setGeometry(kHeadingRect);
    heading_.setAlignment(Qt::AlignCenter);
    heading_.setTextFormat(Qt::PlainText);
    heading_.setAutoFillBackground(true);
    QPalette heading_colours = heading_.palette();
    heading_colours.setColor(QPalette::Window, QColor::fromRgb(kHeadingColour));
    heading_colours.setColor(QPalette::WindowText, Qt::white);
    heading_.setPalette(heading_colours);

    separator_.setGeometry(kSeparatorRect);
    separator_.setFrameShape(QFrame::HLine);
    separator_.setFrameShadow(QFrame::Sunken);

    ok_.setGeometry(180, 355, kButtonSize.width(), kButtonSize.height());
    ok_.setText(QStringLiteral("OK"));
    cancel_.setGeometry(260, 355, kButtonSize.width(), kButtonSize.height());
    cancel_.setText(QStringLiteral("Cancel"));
    current_page_ = nullptr;
    button_font_ = GuiFont();
    ok_.setFont(button_font_);
    cancel_.setFont(button_font_);
    connect(&ok_, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&cancel_, &QPushButton::clicked, this, [this] { OnCancel(); });

    // A fixed client area, centred on the primary screen with whatever frame the desktop adds.
    setFixedSize(kClientWidth, kClientHeight);
    const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    const int width = kClientWidth + frame.left() + frame.right();
    const int height = kClientHeight + frame.top() + frame.bottom();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width) / 2, area.y() + (area.height() - height) / 2);
    }
    raise();

    ok_.move(kClientWidth - 160, kClientHeight - 30);
    cancel_.move(kClientWidth - 80, kClientHeight - 30);
    return true;
}

TlDialog* TlOptionsForm::AdoptPage(std::unique_ptr<TlDialog> page) {
    pages_.push_back(std::move(page));
    return pages_.back().get();
}

void TlOptionsForm::BuildTree(const TlTreeNode<TlOptionsPageInfo>& node, QStandardItem* parent) {
    for (int i = 0; i < node.GetChildCount(); ++i) {
        const TlTreeNode<TlOptionsPageInfo>* child = node.GetChild(i);
        QStandardItem* item = tree_.InsertItem(child->GetValue().label, parent);
        item->setData(QVariant::fromValue(reinterpret_cast<quintptr>(&child->GetValue())),
                      Qt::UserRole);
        BuildTree(*child, item);
    }
    tree_.Expand(parent);
    if (parent == nullptr) {
        tree_.FitFontToItems();
    }
}

const TlOptionsPageInfo* TlOptionsForm::DescriptorOf(const QStandardItem* item) {
    if (item == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<const TlOptionsPageInfo*>(item->data(Qt::UserRole).value<quintptr>());
}

void TlOptionsForm::ShowPage(const TlOptionsPageInfo& info) {
    if (current_page_ != nullptr && current_page_->window() != nullptr) {
        current_page_->DestroyWindow();
    }
    current_page_ = info.page;
    if (current_page_ != nullptr && current_page_->Create(this)) {
        QWidget* window = current_page_->window();
        window->setGeometry(kPageRect);
        window->raise();
        window->show();
    }
    heading_.setText(info.caption);
}

bool TlOptionsForm::event(QEvent* event) {
    if (event->type() == TlTreeNotifyEvent::kType) {
        auto& notify = static_cast<TlTreeNotifyEvent&>(*event);
        if (notify.control_id() == kTreeId) {
            OnTreeNotify(notify);
        }
        return true;
    }
    if (event->type() == TlItemClickQueryEvent::kType) {
        OnItemClickQuery(static_cast<TlItemClickQueryEvent&>(*event));
        return true;
    }
    return QWidget::event(event);
}

void TlOptionsForm::OnTreeNotify(TlTreeNotifyEvent& notify) {
    const TlOptionsPageInfo* info = DescriptorOf(notify.item());
    switch (notify.code()) {
        case TlTreeNotifyEvent::Code::SelChanging:
            if (info == nullptr || info->page == nullptr) {
                notify.Refuse();
            }
            break;
        case TlTreeNotifyEvent::Code::SelChanged:
            if (info != nullptr && info->page != nullptr) {
                ShowPage(*info);
            }
            break;
    }
}

void TlOptionsForm::OnItemClickQuery(TlItemClickQueryEvent& query) {
    const TlOptionsPageInfo* info = DescriptorOf(query.item());
    if (info != nullptr && info->page != nullptr) {
        query.SetAnswer(0);
        return;
    }
    // A group: its first page is what the user wants to see.
    if (QStandardItem* first = query.item() != nullptr ? query.item()->child(0) : nullptr) {
        tree_.SelectItem(first);
    }
    query.SetAnswer(1);
}

void TlOptionsForm::OnOK() {
    if (apply_) {
        apply_();
    }
    PostClose();
}

void TlOptionsForm::OnCancel() {
    PostClose();
}

void TlOptionsForm::PostClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}
