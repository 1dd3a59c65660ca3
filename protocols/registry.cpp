// The production registration table of the device protocol modules: one entry per module that
// exists, in the engine's fixed registration order (HMCP, HZXM, GZQH, ALRS, OWSP, BJHB, GZJK,
// QXSP, SZQH, EPMY: the order of NPC_PVM_VENDOR_LIST). A module adds its entry here, at its
// place in that order, when it is built; the bus layer never includes a module's header.
#include "bus/nxtp_modules.h"
#include "protocols/qxsp/qxsp_protocol.h"

namespace {

// Each module's entry joins this table at its place in the order.
const NPC_S_NXTP_MODULE_ENTRY kModuleEntries[] = {
    {NPC_D_PVM_VENDOR_ID_QXSP, "QXSP", &NPC_F_PVM_DP_QXSP_Create, &NPC_F_PVM_DP_QXSP_Destroy,
     &NPC_F_PVM_DP_QXSP_SetEncryptType},
};
const NPC_S_NXTP_MODULE_TABLE kModuleTable = {kModuleEntries, sizeof kModuleEntries / sizeof kModuleEntries[0]};

}  // namespace

const NPC_S_NXTP_MODULE_TABLE* NPC_F_NXTP_GetModuleTable() { return &kModuleTable; }
