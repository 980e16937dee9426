#include "platform/MessageBox.h"
#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using platform::BoxRecord;

TEST(MessageBoxTest, RecorderKeepsEveryBoxAndWritesItToStderr) {
    platform::BoxRecorder recorder;
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Call InitWindow() first!", "Processing error.", MB_ICONERROR),
              IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Processing error.: Call InitWindow() first!\n");
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(recorder.boxes()[0].text, "Call InitWindow() first!");
    EXPECT_EQ(recorder.boxes()[0].title, "Processing error.");
    EXPECT_EQ(recorder.boxes()[0].style, MB_ICONERROR);
}

TEST(MessageBoxTest, PresenterShowsBoxesOfTheUserInterfaceThreadDirectly) {
    std::vector<std::string> shown;
    platform::InstallBoxPresenter(
        [&](const BoxRecord& box) {
            shown.push_back(box.text);
            return IDOK;
        },
        nullptr);
    MessageBoxA(nullptr, "here", "t", MB_OK);
    platform::RemoveBoxPresenter();
    EXPECT_EQ(shown, std::vector<std::string>{"here"});
}

// A worker's box reaches the user-interface thread even while that thread
// is blocked waiting for the worker: no deadlock.
TEST(MessageBoxTest, BoxFromAnotherThreadIsShownWhileTheUserInterfaceThreadWaits) {
    std::vector<std::string> shown;
    std::thread::id shownOn;
    platform::InstallBoxPresenter(
        [&](const BoxRecord& box) {
            shown.push_back(box.text);
            shownOn = std::this_thread::get_id();
            return IDOK;
        },
        [] {});
    CEvent workerDone;
    std::thread worker([&] {
        MessageBoxA(nullptr, "from worker", "Multimedia in error", MB_ICONERROR);
        workerDone.SetEvent();
    });
    EXPECT_EQ(WaitForSingleObject(workerDone, INFINITE), WAIT_OBJECT_0);
    worker.join();
    platform::RemoveBoxPresenter();
    EXPECT_EQ(shown, std::vector<std::string>{"from worker"});
    EXPECT_EQ(shownOn, std::this_thread::get_id());
}

// A worker's box wakes the user-interface thread, and is shown there, with the
// presenter's answer returned to the worker, once that thread runs the
// pending boxes.
TEST(MessageBoxTest, WakeMakesTheUserInterfaceThreadRunPendingBoxes) {
    constexpr int PresentersAnswer = IDOK + 1;
    std::vector<std::string> shown;
    std::thread::id shownOn;
    CEvent woken;
    platform::InstallBoxPresenter(
        [&](const BoxRecord& box) {
            shown.push_back(box.text);
            shownOn = std::this_thread::get_id();
            return PresentersAnswer;
        },
        [&] { woken.SetEvent(); });
    std::atomic<int> answer{0};
    CEvent answered;
    std::thread worker([&] {
        answer = MessageBoxA(nullptr, "x", "y", MB_OK);
        answered.SetEvent();
    });
    EXPECT_EQ(WaitForSingleObject(woken, 5000), WAIT_OBJECT_0) << "the wake never came";
    EXPECT_TRUE(shown.empty()) << "shown before the user-interface thread ran it";
    platform::RunPendingBoxes();
    EXPECT_EQ(WaitForSingleObject(answered, 5000), WAIT_OBJECT_0) << "the worker still waits";
    worker.join();
    platform::RemoveBoxPresenter();
    EXPECT_EQ(shown, std::vector<std::string>{"x"});
    EXPECT_EQ(shownOn, std::this_thread::get_id());
    EXPECT_EQ(answer, PresentersAnswer);
}
