#include "archive/observation.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Records every announcement it hears in a shared log, and can run an action while being told.
class Recorder : public TlObserver {
  public:
    Recorder(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    void Update(TlObservationSubject* subject) override {
        log_.push_back(name_);
        last_subject = subject;
        if (on_update) {
            on_update();
        }
    }
    TlObservationSubject* last_subject = nullptr;
    std::function<void()> on_update;

  private:
    std::string name_;
    std::vector<std::string>& log_;
};

using Log = std::vector<std::string>;

TEST(Observation, NewestAttachedIsToldFirstAndTwiceIfAttachedTwice) {
    Log log;
    TlObservationSubject subject;
    subject.Notify();  // no observers: nothing happens
    Recorder a("a", log), b("b", log), c("c", log);
    subject.Attach(&a);
    subject.Attach(&b);
    subject.Attach(&c);
    subject.Notify();
    EXPECT_EQ(log, (Log{"c", "b", "a"}));
    EXPECT_EQ(a.last_subject, &subject);

    log.clear();
    subject.Attach(&a);
    subject.Notify();
    EXPECT_EQ(log, (Log{"a", "c", "b", "a"}));

    // One Detach removes one entry, the most recently attached one.
    log.clear();
    subject.Detach(&a);
    subject.Notify();
    EXPECT_EQ(log, (Log{"c", "b", "a"}));

    // Unknown observers are ignored.
    Recorder stranger("x", log);
    subject.Detach(&stranger);
    subject.Detach(nullptr);
    EXPECT_EQ(subject.ObserverCount(), 3u);
}

TEST(Observation, DetachingDuringAnnouncementIsSafe) {
    Log log;
    TlObservationSubject subject;
    Recorder a("a", log), b("b", log), c("c", log);
    subject.Attach(&a);
    subject.Attach(&b);
    subject.Attach(&c);

    // Detaching itself: the others are still told.
    b.on_update = [&] { subject.Detach(&b); };
    subject.Notify();
    EXPECT_EQ(log, (Log{"c", "b", "a"}));
    EXPECT_EQ(subject.ObserverCount(), 2u);

    // Detaching an observer not yet told: it is not told any more.
    log.clear();
    b.on_update = nullptr;
    c.on_update = [&] { subject.Detach(&a); };
    subject.Notify();
    EXPECT_EQ(log, (Log{"c"}));
    EXPECT_EQ(subject.ObserverCount(), 1u);

    // Attaching during an announcement: heard from the next one on.
    log.clear();
    bool attached = false;
    c.on_update = [&] {
        if (!attached) {
            attached = true;
            subject.Attach(&b);
        }
    };
    subject.Notify();
    EXPECT_EQ(log, (Log{"c"}));
    log.clear();
    subject.Notify();
    EXPECT_EQ(log, (Log{"b", "c"}));
}

}  // namespace
