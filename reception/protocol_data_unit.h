#pragma once

#include "reception/data_buffer.h"

// Base of every protocol data unit: a value object that writes its wire form into a buffer and
// reads it back.
class CProtocolDataUnit {
  public:
    virtual ~CProtocolDataUnit() = default;

    // Resets the buffer and writes the unit's wire form into it.
    virtual void Encode(CDataBuffer& buffer) = 0;
    // Replaces every field from the buffer's valid bytes. False when the bytes do not hold a whole
    // unit; the fields are then unspecified but every read stayed inside the buffer.
    virtual bool Decode(const CDataBuffer& buffer) = 0;
};
