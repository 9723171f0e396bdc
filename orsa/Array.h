#pragma once
// The host's array: a block of T and a count. It crosses the boundary between
// the host and a component (class metadata, byte buffers of the security and
// compression services), so its layout and virtual operations are fixed.
#include <cstdint>
#include <stdexcept>

namespace orsa {

template <class T>
class Array {
 public:
  // An array made with count n holds n default-valued elements.
  explicit Array(uint32_t n = 0) : data_(n ? new T[n]() : nullptr), count_(n) {}
  Array(const Array& other) : Array(0) { assign(other); }
  Array& operator=(const Array& other) { return assignFrom(other); }

  virtual ~Array() { delete[] data_; }

  // 0 frees the block; a count not above the present one only lowers the count;
  // a larger one replaces the block with n default elements (old contents dropped).
  virtual void resize(uint32_t n) {
    if (n == 0) {
      delete[] data_;
      data_ = nullptr;
      count_ = 0;
    } else if (n <= count_) {
      count_ = n;
    } else {
      T* block = new T[n]();
      delete[] data_;
      data_ = block;
      count_ = n;
    }
  }

  virtual T* data() { return data_; }
  virtual const T* data() const { return data_; }
  virtual T* end() { return data_ + count_; }
  virtual const T* end() const { return data_ + count_; }
  virtual T& operator[](uint32_t i) { return data_[i]; }
  virtual const T& operator[](uint32_t i) const { return data_[i]; }
  virtual T& at(uint32_t i) { return data_[check(i)]; }
  virtual const T& at(uint32_t i) const { return data_[check(i)]; }
  virtual T& front() { return data_[check(0)]; }
  virtual const T& front() const { return data_[check(0)]; }
  virtual T& back() { return data_[check(count_ ? count_ - 1 : 0)]; }
  virtual const T& back() const { return data_[check(count_ ? count_ - 1 : 0)]; }
  virtual uint32_t size() const { return count_; }
  virtual bool empty() const { return count_ == 0; }
  virtual uint32_t length() const { return count_; }
  virtual T* begin() { return data_; }
  virtual const T* begin() const { return data_; }
  virtual T* get() { return data_; }

  virtual void swap(Array& other) {
    T* d = data_;
    data_ = other.data_;
    other.data_ = d;
    uint32_t c = count_;
    count_ = other.count_;
    other.count_ = c;
  }
  virtual void assign(const Array& other) { assignFrom(other); }
  virtual Array& assignFrom(const Array& other) {
    if (this == &other) return *this;
    resize(other.count_);
    for (uint32_t i = 0; i < other.count_; ++i) data_[i] = other.data_[i];
    return *this;
  }
  virtual void fill(const T& value) {
    for (uint32_t i = 0; i < count_; ++i) data_[i] = value;
  }

 private:
  uint32_t check(uint32_t i) const {
    if (data_ == nullptr || i >= count_) throw std::out_of_range("Array<>: index out of range");
    return i;
  }

  T* data_;
  uint32_t count_;
};

}  // namespace orsa
