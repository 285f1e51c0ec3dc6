// How engines report: status texts, progress, and message boxes. The GUI, the CLI and the
// tests each provide their own sinks; engines never know which one is listening.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vindaru {

inline constexpr const char* kApplicationTitle = "Vindaru 1.0";

class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void setText(const std::string& text) = 0;
};

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void setRange(std::int64_t lower, std::int64_t upper) = 0;
    virtual void setPosition(std::int64_t position) = 0;
};

enum class MessageIcon { None, Information, Question, Warning, Error };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct Message {
    std::string text;
    bool withCaption = true; // caption = the application title; false: no caption
    MessageIcon icon = MessageIcon::Information;
    MessageButtons buttons = MessageButtons::Ok;
};

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual MessageAnswer show(const Message& message) = 0;

    // The common case: information icon, caption the application title, OK.
    void info(const std::string& text) { show(Message{text, true, MessageIcon::Information, MessageButtons::Ok}); }
    void infoNoCaption(const std::string& text) { show(Message{text, false, MessageIcon::None, MessageButtons::Ok}); }
    bool askYesNo(const std::string& text, MessageIcon icon = MessageIcon::Question) {
        return show(Message{text, true, icon, MessageButtons::YesNo}) == MessageAnswer::Yes;
    }
};

// Sinks that drop everything (questions are answered No).
class NullStatusSink : public StatusSink {
public:
    void setText(const std::string&) override {}
};
class NullProgressSink : public ProgressSink {
public:
    void setRange(std::int64_t, std::int64_t) override {}
    void setPosition(std::int64_t) override {}
};
class NullMessageSink : public MessageSink {
public:
    MessageAnswer show(const Message& m) override {
        return m.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
};

// Sinks that keep what they were told; used by tests and by the CLI's collecting mode.
class RecordingStatusSink : public StatusSink {
public:
    void setText(const std::string& text) override {
        std::lock_guard lock(mutex);
        texts.push_back(text);
    }
    std::vector<std::string> snapshot() const {
        std::lock_guard lock(mutex);
        return texts;
    }
    mutable std::mutex mutex;
    std::vector<std::string> texts;
};
class RecordingProgressSink : public ProgressSink {
public:
    void setRange(std::int64_t lo, std::int64_t hi) override {
        std::lock_guard lock(mutex);
        ranges.emplace_back(lo, hi);
    }
    void setPosition(std::int64_t p) override {
        std::lock_guard lock(mutex);
        positions.push_back(p);
    }
    mutable std::mutex mutex;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    std::vector<std::int64_t> positions;
};
class RecordingMessageSink : public MessageSink {
public:
    MessageAnswer show(const Message& m) override {
        std::lock_guard lock(mutex);
        messages.push_back(m);
        return m.buttons == MessageButtons::YesNo ? answer : MessageAnswer::Ok;
    }
    std::vector<std::string> texts() const {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& m : messages) out.push_back(m.text);
        return out;
    }
    MessageAnswer answer = MessageAnswer::Yes;
    mutable std::mutex mutex;
    std::vector<Message> messages;
};

} // namespace vindaru
