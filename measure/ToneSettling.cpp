#include "measure/ToneSettling.h"

void ToneSettling::Retuned() {
    m_blocksRecorded = 0;
    m_firstAfterChange = true;
}

void ToneSettling::BlockShown(std::uint64_t droppedBefore) {
    m_blocksRecorded += m_firstAfterChange ? 1 : droppedBefore + 1;
    m_firstAfterChange = false;
}

void ToneSettling::Interrupted() {
    m_blocksRecorded = 1;
    m_firstAfterChange = false;
}
