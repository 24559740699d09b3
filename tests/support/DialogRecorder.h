#pragma once

// Answers the program's message boxes and file dialogs in tests and remembers what was asked.
#include "platform/Dialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

class DialogRecorder
{
public:
    DialogRecorder()
    {
        platform::SetDialogHandlers([this](const QString& text) { messages << text; },
                                    [this](const platform::FileDialogRequest& request) {
                                        requests.push_back(request);
                                        std::optional<QString> answer;
                                        if (!answers.empty()) {
                                            answer.swap(answers.front());
                                            answers.pop_front();
                                        }
                                        return answer;
                                    });
    }
    ~DialogRecorder() { platform::SetDialogHandlers({}, {}); }
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    /// Queues the answer of the next file dialog (nullopt = cancelled).
    void answerNext(std::optional<QString> path) { answers.push_back(std::move(path)); }

    QStringList messages;
    std::deque<platform::FileDialogRequest> requests;
    std::deque<std::optional<QString>> answers;
};
