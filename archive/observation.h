#pragma once

#include <cstddef>
#include <vector>

class TlObservationSubject;

// Something that wants to hear about changes of a subject. It is told only which subject changed
// and asks the subject for the rest.
class TlObserver {
  public:
    virtual ~TlObserver() = default;
    virtual void Update(TlObservationSubject* subject) = 0;
};

// A subject that observers attach to. Observers are not owned. The most recently attached observer
// is told first; an observer attached twice is told twice.
//
// An observer may detach itself, or any other observer, from inside its Update: a detached entry is
// only blanked while announcements run and removed afterwards, so no announcement ever reaches an
// observer after its Detach. An observer attached from inside Update hears the next announcement.
class TlObservationSubject {
  public:
    TlObservationSubject() = default;
    virtual ~TlObservationSubject() = default;
    // Copies start without observers: attachments belong to one subject.
    TlObservationSubject(const TlObservationSubject&) {}
    TlObservationSubject& operator=(const TlObservationSubject&) { return *this; }

    virtual void Attach(TlObserver* observer);
    // Removes the first (most recently attached) entry of the observer; unknown observers are
    // ignored.
    virtual void Detach(TlObserver* observer);
    virtual void Notify();

    std::size_t ObserverCount() const;

  private:
    // Head of the list at the back, so that attaching is cheap and the walk goes backwards.
    std::vector<TlObserver*> observers_;
    int notifying_ = 0;
    bool blanked_ = false;
};
