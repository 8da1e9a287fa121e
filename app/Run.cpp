// The run's block size, working buffer and workers, set up together.
#include "app/Run.h"

#include "engine/Compression.h"
#include "foundation/Memdiag.h"

bool TRun::AllocateBlockBuffer(int32_t blockSize, TBlockTask task) {
  ReleaseBlockBuffer();
  if (blockSize <= 0) return false;
  BlockSize = blockSize;
  const uint64_t total = SlotBytes(uint32_t(blockSize));
  if (total > 0xFFFFFFFFu) return false;
  Create(BlockBuffer, uint32_t(total));
  if (BlockBuffer == nullptr) return false;
  InputArea = BlockBuffer;
  OutputArea = BlockBuffer + blockSize;
  // A compressing worker's pre-pass output and work area, at their largest (a pre-pass output
  // twice the block).
  const uint64_t workBytes =
      task == BlockCompress ? 4ull * uint32_t(blockSize) + CompressWorkAreaSize(2 * uint32_t(blockSize)) : 0;
  const TPipelinePlan plan = PlanPipeline(RunWorkerCount(blockSize), total, workBytes, PipelineMemoryBudget());
  if (!BlockPipeline.Start(plan, blockSize, BlockBuffer, total, task == BlockCompress, compression)) {
    ReleaseBlockBuffer();
    return false;
  }
  return true;
}

void TRun::ReleaseBlockBuffer() {
  BlockPipeline.Stop();
  Free(BlockBuffer);
  BlockBuffer = nullptr;
  InputArea = nullptr;
  OutputArea = nullptr;
}

