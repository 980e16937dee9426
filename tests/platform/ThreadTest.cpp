#include "platform/Thread.h"
#include "platform/Event.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT WM_RECORD = WM_USER + 1;
constexpr UINT WM_FINISH = WM_USER + 2;

// Records every message it handles; ends itself on WM_FINISH.
class RecordingThread : public CWinThread {
  public:
    BOOL InitInstance() override { return TRUE; }
    ThreadMessageMap GetMessageMap() const override {
        static const ThreadMessageEntry entries[] = {
            OnThreadMessage(WM_RECORD, &RecordingThread::OnRecord),
            OnThreadMessage(WM_FINISH, &RecordingThread::OnFinish),
        };
        return entries;
    }

    static std::vector<WPARAM> received;
    static CEvent finished;
    static CEvent destroyed;
    ~RecordingThread() override { destroyed.SetEvent(); }

  private:
    void OnRecord(WPARAM wParam, LPARAM) { received.push_back(wParam); }
    void OnFinish(WPARAM, LPARAM) {
        finished.SetEvent();
        AfxEndThread(0, TRUE);
    }
};
std::vector<WPARAM> RecordingThread::received;
CEvent RecordingThread::finished;
CEvent RecordingThread::destroyed;

const CRuntimeClass recordingClass = MakeRuntimeClass<RecordingThread>("RecordingThread");

class ThreadTest : public testing::Test {
  protected:
    void SetUp() override {
        RecordingThread::received.clear();
        RecordingThread::finished.ResetEvent();
        RecordingThread::destroyed.ResetEvent();
    }
};

} // namespace

TEST_F(ThreadTest, MessagesPostedRightAfterTheStartArriveInOrder) {
    CWinThread* thread = AfxBeginThread(&recordingClass);
    ASSERT_NE(thread, nullptr);
    const DWORD id = thread->m_nThreadID;
    for (WPARAM i = 0; i < 1000; ++i)
        ASSERT_TRUE(PostThreadMessageA(id, WM_RECORD, i, 0));
    ASSERT_TRUE(PostThreadMessageA(id, WM_USER + 99, 0, 0)); // not in the table: ignored
    ASSERT_TRUE(PostThreadMessageA(id, WM_FINISH, 0, 0));
    WaitForSingleObject(RecordingThread::destroyed, INFINITE);

    ASSERT_EQ(RecordingThread::received.size(), 1000u);
    for (WPARAM i = 0; i < 1000; ++i)
        EXPECT_EQ(RecordingThread::received[i], i);
}

TEST_F(ThreadTest, EndedThreadDeletesItselfAndRefusesFurtherMessages) {
    CWinThread* thread = AfxBeginThread(&recordingClass);
    ASSERT_NE(thread, nullptr);
    const DWORD id = thread->m_nThreadID;
    ASSERT_TRUE(PostThreadMessageA(id, WM_FINISH, 0, 0));
    EXPECT_EQ(WaitForSingleObject(RecordingThread::destroyed, INFINITE), WAIT_OBJECT_0);
    EXPECT_FALSE(PostThreadMessageA(id, WM_RECORD, 7, 0));
    EXPECT_TRUE(RecordingThread::received.empty());
}

TEST_F(ThreadTest, InjectedStartFailureReturnsNoThread) {
    platform::FailThreadStart(2);
    CWinThread* first = AfxBeginThread(&recordingClass);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(AfxBeginThread(&recordingClass), nullptr);
    first->PostThreadMessage(WM_FINISH, 0, 0);
    WaitForSingleObject(RecordingThread::destroyed, INFINITE);
}

TEST_F(ThreadTest, PostingToAnUnknownThreadFails) {
    EXPECT_FALSE(PostThreadMessageA(0xDEAD, WM_RECORD, 0, 0));
}
