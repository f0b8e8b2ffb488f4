#include "wkt.hpp"

namespace quillmere::wkt {

GeometryCollection::~GeometryCollection() {
  if (geometries.empty()) return;
  // Deeply nested text gives deeply nested trees: move every nested member
  // list out onto a work list so each collection is freed when already empty.
  std::vector<std::vector<Geometry>> work;
  work.push_back(std::move(geometries));
  while (!work.empty()) {
    std::vector<Geometry> members = std::move(work.back());
    work.pop_back();
    for (Geometry& member : members) {
      if (auto* nested = std::get_if<GeometryCollection>(&member.value); nested && !nested->geometries.empty()) {
        work.push_back(std::move(nested->geometries));
      }
    }
  }
}

}  // namespace quillmere::wkt
