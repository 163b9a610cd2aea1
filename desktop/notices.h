#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <functional>
#include <vector>

class QWidget;

// Tells the user, once per run, something they can act on: that no notification area shows the
// icon, that settings could not all be read, that reception cannot start. A notice goes to the
// desktop's notification server (org.freedesktop.Notifications) and, where there is none, it
// refuses or it does not answer within 2 seconds, into a small message window that does not take
// the focus. Each notice has a key; a key told once is not told again
// in the same run, however often the condition is met. User-interface thread only.
class TlNotices : public QObject {
    Q_OBJECT
  public:
    struct Notice {
        QString key;
        QString summary;  // one line
        QString body;     // a few sentences: what happened and what to do
    };
    // Shows a notice to the user; tests give their own.
    using Presenter = std::function<void(const Notice&)>;

    explicit TlNotices(QObject* parent = nullptr);
    // Closes the message windows still open.
    ~TlNotices() override;

    // Tells the notice unless one with its key was told before; true when it is told now.
    bool TellOnce(const QString& key, const QString& summary, const QString& body);
    bool WasTold(const QString& key) const { return told_.contains(key); }
    void SetPresenter(Presenter presenter) { presenter_ = std::move(presenter); }

  private:
    void ShowOnDesktop(const Notice& notice);
    void ShowWindow(const Notice& notice);

    QSet<QString> told_;
    Presenter presenter_;
    std::vector<QPointer<QWidget>> windows_;
};
