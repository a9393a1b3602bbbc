#pragma once

#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "async/Sleeper.h"
#include "insertion/TextInsertionService.h"
#include "support/async/TaskRunner.h"
#include "support/focus/FakeFocusPlatform.h"
#include "support/insertion/FakeInsertionPlatform.h"

namespace tessvale::testing {

// The outcome of an insertion started on virtual time.
struct InsertOutcome : TaskOutcome<TextInsertionResult>
{
    QString errorText() const;
    std::optional<TextInsertionError::Case> errorCase() const;
    bool cancelled() const;
};

class InsertionFixture : public ::testing::Test
{
protected:
    static constexpr qint32 targetPid = 4242;

    void SetUp() override;
    // Builds the service with the hooks set so far.
    TextInsertionService& service();
    // As the application does at quit, with insertions still running.
    void destroyService() { m_service.reset(); }
    std::shared_ptr<InsertOutcome> start(const QString& text, FocusedInsertionTargetRef target = nullptr,
        bool restoreClipboard = true, bool preferDirectTyping = false, CancelToken token = {},
        bool appendTrailingSpace = false);
    // Runs posted work, then moves virtual time by step until done or limit.
    void runUntilDone(const std::shared_ptr<InsertOutcome>& outcome, Duration limit = std::chrono::seconds(5));
    void advance(Duration duration);

    FocusedInsertionTargetRef textFieldTarget() const;
    FocusedInsertionTargetRef applicationOnlyTarget() const;
    // Focus on the target's field with text and a caret at its end.
    void focusTargetField(const QString& text = {});

    std::shared_ptr<FakeWindowSystem> windows;
    std::shared_ptr<FakeAccessibility> accessibility;
    std::shared_ptr<FakeClipboard> clipboard;
    std::shared_ptr<RecordingInputInjector> injector;
    std::unique_ptr<ManualSleeper> sleeper;
    TextInsertionHooks hooks;

private:
    std::shared_ptr<FocusedAppDiagnosticsService> m_diagnostics;
    std::unique_ptr<TextInsertionService> m_service;
};

} // namespace tessvale::testing
