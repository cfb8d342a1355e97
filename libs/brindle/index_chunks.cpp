// SPDX-License-Identifier: GPL-2.0-or-later
#include "index_chunks.h"

#include <cstring>

#include "resources.h"

namespace quillion::brindle {

index_chunk* copy_index_chunks(const mpeg_in_info* session, const index_chunk* source,
                               std::uint32_t entryBytes, bool& ok) {
  ok = true;
  index_chunk* head = nullptr;
  index_chunk* last = nullptr;
  for (const index_chunk* c = source; c; c = c->next) {
    auto* node = static_cast<index_chunk*>(session_malloc(session, sizeof(index_chunk)));
    const std::size_t bytes = std::size_t{c->count} * entryBytes;
    void* data = node && bytes ? session_malloc(session, bytes) : nullptr;
    if (!node || (bytes && !data)) {
      session_free(session, node);
      free_index_chunks(session, head);
      ok = false;
      return nullptr;
    }
    if (bytes) std::memcpy(data, c->data, bytes);
    *node = index_chunk{data, c->count, nullptr, last};
    if (last)
      last->next = node;
    else
      head = node;
    last = node;
  }
  return head;
}

void free_index_chunks(const mpeg_in_info* session, index_chunk*& head) {
  index_chunk* last = head;
  while (last && last->next) last = last->next;
  while (last) {
    index_chunk* previous = last->previous;
    session_free(session, last->data);
    session_free(session, last);
    last = previous;
  }
  head = nullptr;
}

}  // namespace quillion::brindle
