// walkstack.h — a small stack for walking object trees without recursion.
// Worlds written by generators can nest far deeper than the thread stack
// allows, so the name search and the bounding cubes keep their own stack.
// The first few levels live inline; deeper ones come from zvRealloc, and a
// push that cannot get memory answers false so the caller can give up
// cleanly.
#pragma once

#include <cstddef>

#include "scene/scene.h"

template <typename T, size_t Inline = 32>
class ZvWalkStack {
 public:
  ZvWalkStack() = default;
  ZvWalkStack(const ZvWalkStack&) = delete;
  ZvWalkStack& operator=(const ZvWalkStack&) = delete;
  ~ZvWalkStack() {
    if (items_ != inline_) zvFree(items_);
  }

  bool push(const T& item) {
    if (size_ == capacity_ && !grow()) return false;
    items_[size_++] = item;
    return true;
  }
  bool empty() const { return size_ == 0; }
  T& top() { return items_[size_ - 1]; }
  T pop() { return items_[--size_]; }

 private:
  bool grow() {
    size_t capacity = capacity_ * 2;
    T* items;
    if (items_ == inline_) {
      items = static_cast<T*>(zvMalloc(capacity * sizeof(T)));
      if (!items) return false;
      for (size_t i = 0; i < size_; ++i) items[i] = inline_[i];
    } else {
      items = static_cast<T*>(zvRealloc(items_, capacity * sizeof(T)));
      if (!items) return false;
    }
    items_ = items;
    capacity_ = capacity;
    return true;
  }

  T inline_[Inline];
  T* items_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = Inline;
};
