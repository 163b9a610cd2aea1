#include "archive/observation.h"

#include <algorithm>

void TlObservationSubject::Attach(TlObserver* observer) {
    if (observer != nullptr) {
        observers_.push_back(observer);
    }
}

void TlObservationSubject::Detach(TlObserver* observer) {
    if (observer == nullptr) {
        return;
    }
    auto found = std::find(observers_.rbegin(), observers_.rend(), observer);
    if (found == observers_.rend()) {
        return;
    }
    if (notifying_ > 0) {
        // Keep the positions stable for the walk in progress.
        *found = nullptr;
        blanked_ = true;
    } else {
        observers_.erase(std::next(found).base());
    }
}

void TlObservationSubject::Notify() {
    ++notifying_;
    // Walk by index from the newest entry: entries attached during the walk land behind it and
    // are not told this time.
    for (std::size_t i = observers_.size(); i > 0; --i) {
        if (TlObserver* observer = observers_[i - 1]) {
            observer->Update(this);
        }
    }
    if (--notifying_ == 0 && blanked_) {
        std::erase(observers_, nullptr);
        blanked_ = false;
    }
}

std::size_t TlObservationSubject::ObserverCount() const {
    return static_cast<std::size_t>(std::count_if(
        observers_.begin(), observers_.end(), [](const TlObserver* o) { return o != nullptr; }));
}
