#pragma once

#include "reception/smb/smb_pdu.h"

// Send end of multi-block message (0xD6): no data; the group identifier in word 0 is not examined.
class CSmbPdu_sendend : public CSmbPdu {
  public:
    void Reset() override;
};
