#include "archive/observation.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Log = std::vector<std::string>;

// Records every announcement it hears in a shared log, and can run an action while being told.
class Recorder : public TlObserver {
  public:
    Recorder(std::string name, Log& log) : name_(std::move(name)), log_(log) {}
    void Update(TlObservationSubject*) override {
        log_.push_back(name_);
        if (on_update) {
            on_update();
        }
    }
    std::function<void()> on_update;

  private:
    std::string name_;
    Log& log_;
};

TEST(Observation, NewestFirstAndChangesDuringAnAnnouncementAreSafe) {
    Log log;
    TlObservationSubject subject;
    Recorder a("a", log), b("b", log), c("c", log), stranger("x", log);
    for (Recorder* r : {&a, &b, &c, &a}) {
        subject.Attach(r);
    }
    subject.Notify();
    EXPECT_EQ(log, (Log{"a", "c", "b", "a"}));  // attached twice: told twice
    subject.Detach(&a);                         // one entry, the newest
    subject.Detach(&stranger);
    EXPECT_EQ(subject.ObserverCount(), 3u);

    // Detaching itself: the others are still told. Detaching one not yet told: it is not.
    log.clear();
    b.on_update = [&] { subject.Detach(&b); };
    c.on_update = [&] { subject.Detach(&a); };
    subject.Notify();
    EXPECT_EQ(log, (Log{"c", "b"}));
    // Attaching during an announcement: heard from the next one on.
    log.clear();
    bool attached = false;
    c.on_update = [&] {
        if (!std::exchange(attached, true)) {
            subject.Attach(&b);
        }
    };
    subject.Notify();
    subject.Notify();
    EXPECT_EQ(log, (Log{"c", "b", "c"}));
}

}  // namespace
