// A question the job's thread puts to the window, and the one answer it waits for. The window's side
// is a JobReply: it answers with Give() or Decline(), and when its last copy goes away unanswered (the
// window closed, the queued signal was dropped, an exception unwound the handler) the job is told no.
// The job's side also stops waiting when its stop token is triggered. So the job never waits for a
// window that will not answer.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

namespace clipwright::ui {

// The answer to a request that carries no value: "done".
struct Done {};

template <typename Answer> class JobQuestion;

template <typename Answer> class JobReply {
public:
    JobReply() = default;

    void Give(Answer answer) const {
        if (holder)
            holder->state->Settle(std::move(answer));
    }
    void Decline() const {
        if (holder)
            holder->state->Settle(std::nullopt);
    }

private:
    friend class JobQuestion<Answer>;

    struct State {
        std::mutex mutex;
        std::condition_variable_any settled;
        bool isSettled = false;
        std::optional<Answer> answer;

        void Settle(std::optional<Answer> value) {
            std::lock_guard<std::mutex> lock(mutex);
            if (isSettled)
                return;
            isSettled = true;
            answer = std::move(value);
            settled.notify_all();
        }
    };
    // Only the window's copies hold this, so its end means no answer will come.
    struct Holder {
        explicit Holder(std::shared_ptr<State> shared) : state(std::move(shared)) {}
        ~Holder() { state->Settle(std::nullopt); }
        Holder(const Holder&) = delete;
        Holder& operator=(const Holder&) = delete;
        std::shared_ptr<State> state;
    };

    explicit JobReply(std::shared_ptr<State> state) : holder(std::make_shared<Holder>(std::move(state))) {}

    std::shared_ptr<Holder> holder;
};

template <typename Answer> class JobQuestion {
public:
    JobQuestion() : state(std::make_shared<typename JobReply<Answer>::State>()) {}

    // The window's side; hand it over once.
    JobReply<Answer> Reply() const { return JobReply<Answer>(state); }

    // Waits for the answer; nothing when the window declined or is gone, or when `stop` is triggered.
    std::optional<Answer> Wait(std::stop_token stop) const {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->settled.wait(lock, stop, [this] { return state->isSettled; });
        if (!state->isSettled)
            return std::nullopt;
        return state->answer;
    }

private:
    std::shared_ptr<typename JobReply<Answer>::State> state;
};

} // namespace clipwright::ui
