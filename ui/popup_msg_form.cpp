#include "ui/popup_msg_form.h"

#include <QDate>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "archive/data_set.h"
#include "archive/file_time.h"
#include "reception/service/received_message.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/localization.h"
#include "ui/controls/command_event.h"
#include "ui/message_text.h"
#include "ui/resources.h"

namespace {

QString Loc(int id) {
    return QString::fromStdString(LoadLocString(id));
}

QFont BaseFont() {
    return DesktopFont();
}

// The links' places when their texts fit them: left, width.
constexpr std::pair<int, int> kLinkSlots[] = {{5, 95}, {110, 95}, {215, 80}};
constexpr int kLinkBandLeft = 5;
constexpr int kLinkBandRight = 295;
constexpr int kLinkSpacing = 10;
constexpr int kLinkHeight = 15;
// Room left on each side of a link's text, so that no letter touches its edge.
constexpr int kLinkPadding = 2;

// A quarter larger than the desktop's general font, cut to whole units as font heights are.
QFont Enlarged(QFont font) {
    if (font.pixelSize() > 0) {
        font.setPixelSize(static_cast<int>(font.pixelSize() * 1.25));
    } else {
        font.setPointSizeF(std::trunc(font.pointSizeF() * 1.25));
    }
    return font;
}

QFont TextFont() {
    return Enlarged(BaseFont());
}

QFont CaptionFont() {
    QFont font = Enlarged(BaseFont());
    font.setWeight(QFont::Bold);
    return font;
}

QFont LinkFont() {
    QFont font = BaseFont();
    font.setWeight(QFont::Bold);
    font.setUnderline(true);
    return font;
}

// Line breaks of any form, as the text box shows them.
QString DisplayLines(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QDateTime ToDateTime(std::int64_t value) {
    const file_time::CalendarTime c = file_time::ToCalendar(value);
    return QDateTime(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, c.second));
}

// The locale's long time format made 24-hour: hours as H/HH, without AM/PM or time zone. Worked
// out once per locale.
QString TwentyFourHourFormat(const QLocale& locale) {
    static QString cached_locale;
    static QString cached_format;
    const QString name = locale.name();
    if (!cached_format.isEmpty() && name == cached_locale) {
        return cached_format;
    }
    const QString long_format = locale.timeFormat(QLocale::LongFormat);
    QString format;
    bool quoted = false;
    for (qsizetype i = 0; i < long_format.size(); ++i) {
        const QChar c = long_format.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted) {
            if (c == QLatin1Char('t')) {
                continue;  // time zone
            }
            if (c == QLatin1Char('A') || c == QLatin1Char('a')) {
                // AM/PM marker, "AP"/"ap" or "A"/"a"
                if (i + 1 < long_format.size() && (long_format.at(i + 1) == QLatin1Char('P') ||
                                                   long_format.at(i + 1) == QLatin1Char('p'))) {
                    ++i;
                }
                continue;
            }
            if (c == QLatin1Char('h')) {
                format += QLatin1Char('H');
                continue;
            }
        }
        format += c;
    }
    format = format.simplified();
    if (!format.contains(QLatin1Char('H')) || !format.contains(QLatin1Char('m'))) {
        format = QStringLiteral("HH:mm:ss");
    }
    cached_locale = name;
    cached_format = format;
    return format;
}

}  // namespace

CPopupMsgForm::CPopupMsgForm(QWidget* owner)
    : TlCloudWnd(owner),
      text_font_(TextFont()),
      caption_font_(CaptionFont()),
      link_font_(LinkFont()),
      text_(kTextId, this),
      prev_(kPrevId, Loc(strings::kPrevMessage), this),
      next_(kNextId, Loc(strings::kNextMessage), this),
      copy_(kCopyId, Loc(strings::kCopy), this),
      reply_link_(kReplyId, Loc(strings::kReply), this),
      caption_(kCaptionId, this),
      close_(kCloseId, &caption_) {
    text_.setFont(text_font_);
    text_.SetBackground(QColor::fromRgb(kBackground));
    text_.setGeometry(kTextRect);

    reply_link_.hide();
    ArrangeLinks();

    caption_.SetText(Loc(strings::kMessagesReceived));
    caption_.setFont(
        FontToFit(caption_font_, {caption_.text()},
                  {kCaptionRect.width() - 2 * tlDragBar::kTextInset, tlDragBar::kTextHeight}));
    caption_.setGeometry(kCaptionRect);

    close_.setGeometry(kCloseRect);
    close_.SetBitmaps(resources::LoadBitmap(resources::kBitmapCloseNormal),
                      resources::LoadBitmap(resources::kBitmapCloseHot));

    UpdateLayout();
}

void CPopupMsgForm::ArrangeLinks() {
    // The three links each in its own place while its text fits there; otherwise (and always
    // with "Reply") the band is shared out by the texts' widths, and the font made smaller while
    // even that is too narrow. Their top is the layout's.
    const int top = prev_.y();
    std::vector<TlStaticLink*> links = {&prev_, &next_, &copy_};
    if (!reply_link_.isHidden()) {
        links.push_back(&reply_link_);
    }
    const int count = static_cast<int>(links.size());
    QFont font = link_font_;
    for (;;) {
        const QFontMetricsF metrics(font);
        std::vector<int> need(links.size());
        bool in_slots = count == 3;
        int total = 0;
        for (int i = 0; i < count; ++i) {
            need[i] = static_cast<int>(std::ceil(metrics.horizontalAdvance(links[i]->text()))) +
                      2 * kLinkPadding;
            in_slots = in_slots && need[i] <= kLinkSlots[i].second;
            total += need[i];
        }
        const int spare = kLinkBandRight - kLinkBandLeft - (count - 1) * kLinkSpacing - total;
        const bool fits = metrics.height() <= kLinkHeight && (in_slots || spare >= 0);
        const int pixels = QFontInfo(font).pixelSize();
        if (fits || pixels <= kSmallestFitPixels) {
            int left = kLinkBandLeft;
            for (int i = 0; i < count; ++i) {
                links[i]->setFont(font);
                if (in_slots) {
                    links[i]->setGeometry(kLinkSlots[i].first, top, kLinkSlots[i].second,
                                          kLinkHeight);
                } else {
                    const int width = need[i] + std::max(spare, 0) / count;
                    links[i]->setGeometry(left, top, width, kLinkHeight);
                    left += width + kLinkSpacing;
                }
            }
            return;
        }
        font.setPixelSize(pixels - 1);
    }
}

void CPopupMsgForm::SetDataSet(TlDataSet* archive, std::mutex* lock) {
    archive_ = archive;
    lock_ = lock;
}

QSize CPopupMsgForm::GetDesiredSize() const {
    return {kWidth, text_.y() + text_.height() + kBottomSpace};
}

void CPopupMsgForm::UpdateLayout() {
    text_.RequestResize();
    const int height = std::clamp(text_.RequestedHeight(), kTextRect.height(), kTextMaxHeight);
    text_.resize(text_.RequestedWidth(), height);
    const int links_top = text_.y() + text_.height() + kLinkGap;
    for (TlStaticLink* link : {&prev_, &next_, &copy_, &reply_link_}) {
        link->move(link->x(), links_top);
    }
    TlCloudWnd::UpdateLayout();
}

void CPopupMsgForm::UpdateContent(int reason) {
    // Refreshes happen several times per showing; unchanged text keeps its layout.
    const QString text = DisplayLines(ComposeText());
    if (text != text_.toPlainText()) {
        text_.setPlainText(text);
    }
    if (reply_to_.has_value() == reply_link_.isHidden()) {
        reply_link_.setHidden(!reply_to_.has_value());
        ArrangeLinks();
    }
    TlCloudWnd::UpdateContent(reason);
}

QString CPopupMsgForm::FormatDate(std::int64_t file_time, const QLocale& locale) {
    return locale.toString(ToDateTime(file_time).date(), QLocale::ShortFormat);
}

QString CPopupMsgForm::FormatTime(std::int64_t file_time, const QLocale& locale) {
    return locale.toString(ToDateTime(file_time).time(), TwentyFourHourFormat(locale));
}

QString CPopupMsgForm::ComposeText() {
    if (archive_ == nullptr) {
        return {};
    }
    struct Shown {
        std::string origin, recipient, message;
        std::int64_t received = 0;
        std::int32_t type = 0;
    };
    std::optional<Shown> shown;
    {
        // Records are appended on port threads under this lock; reading under it never sees a
        // record whose fields are only partly written.
        std::unique_lock<std::mutex> guard;
        if (lock_ != nullptr) {
            guard = std::unique_lock(*lock_);
        }
        const int i = archive_->GetCurrent();
        if (i >= 0 && i < archive_->GetCount()) {
            shown = Shown{archive_->GetField(i, archive_field::kOrigin).AsText(),
                          archive_->GetField(i, archive_field::kRecipient).AsText(),
                          archive_->GetField(i, archive_field::kMessage).AsText(),
                          archive_->GetField(i, archive_field::kReceived).AsInt64(),
                          archive_->GetField(i, archive_field::kType).AsInt32()};
        }
    }
    reply_to_.reset();
    if (!shown) {
        return Loc(strings::kNoMessages);
    }
    const auto kind = static_cast<MessageKind>(shown->type);
    if (kind == MessageKind::Personal) {
        reply_to_ = shown->origin;
    }
    const QLocale locale = QLocale::system();
    const std::string text = message_text::Compose(
        FormatDate(shown->received, locale).toStdString(),
        FormatTime(shown->received, locale).toStdString(),
        LoadLocString(kind == MessageKind::Sent ? strings::kSentTo : strings::kWroteTo),
        shown->origin, shown->recipient, shown->message);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void CPopupMsgForm::MoveLast() {
    if (archive_ == nullptr) {
        return;
    }
    std::unique_lock<std::mutex> guard;
    if (lock_ != nullptr) {
        guard = std::unique_lock(*lock_);
    }
    archive_->MoveLast();
}

bool CPopupMsgForm::event(QEvent* event) {
    if (event->type() == TlCommandEvent::kType) {
        OnCommand(static_cast<TlCommandEvent*>(event)->id());
        event->accept();
        return true;
    }
    return TlCloudWnd::event(event);
}

void CPopupMsgForm::OnCommand(int id) {
    if (id != kPrevId && id != kNextId && id != kCopyId && id != kCloseId && id != kReplyId) {
        return;
    }
    if (acknowledge_) {
        acknowledge_();
    }
    switch (id) {
        case kPrevId:
        case kNextId:
            if (archive_ != nullptr) {
                std::unique_lock<std::mutex> guard;
                if (lock_ != nullptr) {
                    guard = std::unique_lock(*lock_);
                }
                if (id == kPrevId) {
                    archive_->MovePrev();
                } else {
                    archive_->MoveNext();
                }
            }
            UpdateContent(0);
            break;
        case kCopyId:
            // Exactly what is shown, header lines included.
            (clipboard_ != nullptr ? clipboard_ : &desktop_clipboard_)->CopyText(ShownText());
            break;
        case kCloseId:
            hide();
            break;
        case kReplyId:
            if (reply_ && reply_to_) {
                reply_(*reply_to_);
            }
            break;
        default:
            break;
    }
}

void CPopupMsgForm::showEvent(QShowEvent* event) {
    TlCloudWnd::showEvent(event);
    MoveLast();
}

void CPopupMsgForm::hideEvent(QHideEvent* event) {
    TlCloudWnd::hideEvent(event);
    MoveLast();
}
