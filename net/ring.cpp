// ring.cpp — the receive ring: bytes as the socket gives them, taken out a
// whole message at a time. Indexes stay within the ring; one byte is always
// left free so that full and empty differ.
#include <algorithm>
#include <cstring>

#include "net/net.h"

namespace {

void copyOut(const ZvcpRing* ring, uint32_t from, uint8_t* to, size_t count) {
  size_t first = std::min(count, size_t(ZVCP_RING_SIZE - from));
  std::memcpy(to, ring->bytes + from, first);
  std::memcpy(to + first, ring->bytes, count - first);
}

void advance(ZvcpRing* ring, size_t count) {
  ring->read = uint32_t((ring->read + count) % ZVCP_RING_SIZE);
}

}  // namespace

void zvcpRingReset(ZvcpRing* ring) {
  ring->read = ring->write = 0;
  ring->skip = 0;
}

size_t zvcpRingUsed(const ZvcpRing* ring) {
  return (ring->write + ZVCP_RING_SIZE - ring->read) % ZVCP_RING_SIZE;
}

size_t zvcpRingFree(const ZvcpRing* ring) { return ZVCP_RING_SIZE - 1 - zvcpRingUsed(ring); }

int zvcpRingPut(ZvcpRing* ring, const void* bytes, size_t count) {
  if (count > zvcpRingFree(ring)) return ZVCP_E_NOFIT;
  const uint8_t* from = static_cast<const uint8_t*>(bytes);
  size_t first = std::min(count, size_t(ZVCP_RING_SIZE - ring->write));
  std::memcpy(ring->bytes + ring->write, from, first);
  std::memcpy(ring->bytes, from + first, count - first);
  ring->write = uint32_t((ring->write + count) % ZVCP_RING_SIZE);
  return ZVCP_OK;
}

int zvcpRingPeek(const ZvcpRing* ring, void* bytes, size_t count) {
  if (count > zvcpRingUsed(ring)) return ZVCP_E_SHORT;
  copyOut(ring, ring->read, static_cast<uint8_t*>(bytes), count);
  return ZVCP_OK;
}

int zvcpRingGet(ZvcpRing* ring, void* bytes, size_t count) {
  if (zvcpRingPeek(ring, bytes, count) != ZVCP_OK) return ZVCP_E_SHORT;
  advance(ring, count);
  return ZVCP_OK;
}

int64_t zvcpRingMessageSize(const ZvcpRing* ring) {
  size_t used = zvcpRingUsed(ring);
  if (used < ZVCP_STEP_SIZE) return ZVCP_E_INCOMPLETE;
  uint8_t header[ZVCP_HEADER_SIZE];  // the scratch copy for a header that wraps
  size_t have = std::min(used, size_t(ZVCP_HEADER_SIZE));
  copyOut(ring, ring->read, header, have);
  int64_t size = zvcpMessageSize(header, have);
  if (size < 0) return size;
  return uint64_t(size) <= used ? size : int64_t(ZVCP_E_INCOMPLETE);
}

int zvcpRingNext(ZvcpRing* ring, uint8_t* out) {
  if (ring->skip) {  // the tail of an oversize message, as it arrives
    size_t drop = size_t(std::min<uint64_t>(ring->skip, zvcpRingUsed(ring)));
    advance(ring, drop);
    ring->skip -= drop;
    if (ring->skip) return 0;
  }
  size_t used = zvcpRingUsed(ring);
  if (used == 0) return 0;
  uint8_t header[ZVCP_HEADER_SIZE];
  size_t have = std::min(used, size_t(ZVCP_HEADER_SIZE));
  copyOut(ring, ring->read, header, have);
  int64_t size = zvcpMessageSize(header, have);
  if (size == ZVCP_E_UNKNOWN) return ZVCP_E_STREAM;  // no way to find the next message
  if (size < 0) return 0;
  if (size > ZVCP_MAX_MESSAGE) {
    if (size - ZVCP_HEADER_SIZE > ZVCP_MAX_SKIP) return ZVCP_E_STREAM;
    size_t drop = std::min(used, size_t(size));
    advance(ring, drop);
    ring->skip = uint64_t(size) - drop;
    return ZVCP_E_TOO_LONG;
  }
  if (uint64_t(size) > used) return 0;
  copyOut(ring, ring->read, out, size_t(size));
  advance(ring, size_t(size));
  return int(size);
}
