#include "ime/EngineSeam.h"

#include <atomic>

namespace tolvani {

namespace {

const EngineSeam kRealEngine;
std::atomic<const EngineSeam*> g_seam{&kRealEngine};

}  // namespace

const EngineSeam& engineSeam() { return *g_seam.load(std::memory_order_acquire); }

void testSetEngineSeam(const EngineSeam* seam) {
  g_seam.store(seam != nullptr ? seam : &kRealEngine, std::memory_order_release);
}

}  // namespace tolvani
