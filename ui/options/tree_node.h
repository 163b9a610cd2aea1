#pragma once

#include <memory>
#include <vector>

// A node of a tree of values: its own value and its children, which it owns, in the order they
// were added. Destroying a node destroys its children first, in that order, then its value.
template <class T>
class TlTreeNode {
  public:
    TlTreeNode() = default;
    ~TlTreeNode() {
        for (auto& child : children_) {
            child.reset();
        }
    }
    TlTreeNode(const TlTreeNode&) = delete;
    TlTreeNode& operator=(const TlTreeNode&) = delete;

    // Adds an empty child at the end and returns its index.
    int AddChild() {
        children_.push_back(std::make_unique<TlTreeNode>());
        return static_cast<int>(children_.size()) - 1;
    }
    // The child at index, or null when there is none.
    TlTreeNode* GetChild(int index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= children_.size()) {
            return nullptr;
        }
        return children_[static_cast<std::size_t>(index)].get();
    }
    int GetChildCount() const { return static_cast<int>(children_.size()); }

    void SetValue(const T& value) { value_ = value; }
    const T& GetValue() const { return value_; }

  private:
    std::vector<std::unique_ptr<TlTreeNode>> children_;
    T value_{};
};
