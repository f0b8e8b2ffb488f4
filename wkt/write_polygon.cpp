#include "pool/stop.hpp"
#include "wkt.hpp"

namespace quillmere::wkt {

std::string polygon_to_wkt_string(const Polygon&) { throw Stop("the WKT writer is not built yet"); }

}  // namespace quillmere::wkt
