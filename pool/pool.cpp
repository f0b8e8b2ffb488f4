#include "pool.hpp"

namespace quillmere::pool {

std::size_t current_num_threads() { throw Stop("the worker pool is not built yet"); }

void run_batch(std::size_t, PieceFn, void*) { throw Stop("the worker pool is not built yet"); }

}  // namespace quillmere::pool
