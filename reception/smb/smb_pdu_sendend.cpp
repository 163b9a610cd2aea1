#include "reception/smb/smb_pdu_sendend.h"

void CSmbPdu_sendend::Reset() {
    CSmbPdu::Reset();
    command = smb::kSendEnd;
}
