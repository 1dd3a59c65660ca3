// The engine's vendor table: registration of the device protocol modules from the registration
// table in its fixed order, lookup by vendor id, and their uninitialisation and destruction at
// stop. Modules live exactly as long as the engine runs; none is added or removed meanwhile, so
// the table is read without a lock.
#include <cstdlib>
#include <new>

#include "bus/nxtp_mc_data.h"
#include "runtime/log.h"

// Constructs each module of the table in order and registers it. A module whose construction or
// registration fails is destroyed, its failure logged with its four-letter name, and the
// registration ends with failure; the modules registered before stay in the table until the
// stop releases them.
int NPC_F_NXTP_MC_InitVendorModule(NPC_H_NXTP_MC bus) {
  const NPC_S_NXTP_MODULE_TABLE* table = bus->pModuleTable;
  if (!table || table->iEntryNum <= 0) return 1;
  if (!table->pEntries) return 0;
  for (int i = 0; i < table->iEntryNum; ++i) {
    const NPC_S_NXTP_MODULE_ENTRY* entry = &table->pEntries[i];
    NPC_I_PVM_DevProtocol* module = entry->pfnCreate ? entry->pfnCreate() : nullptr;
    if (!module || !NPC_F_NXTP_MC_AddVendorAndInit(bus, entry, module)) {
      if (module && entry->pfnDestroy) entry->pfnDestroy(module);
      NPC_F_LOG_SR_WriteLogF("NPC_F_NXTP_MC_InitVendorModule NPC_F_NXTP_MC_AddVendorAndInit %s fail.",
                             entry->sName ? entry->sName : "");
      return 0;
    }
    // The module that takes the bus's encryption type receives it right after its registration.
    if (entry->pfnSetEncryptType) entry->pfnSetEncryptType(module, bus->iEncryptType.load());
  }
  return 1;
}

// Refuses a full table, allocates the vendor record, initialises the module with the engine's
// event callback and appends the record. On failure nothing is kept (the caller destroys the
// module).
int NPC_F_NXTP_MC_AddVendorAndInit(NPC_H_NXTP_MC bus, const NPC_S_NXTP_MODULE_ENTRY* entry,
                                   NPC_I_PVM_DevProtocol* module) {
  if (bus->iVendorNum >= NPC_D_NXTP_MC_MAX_VENDOR_NUM) return 0;
  auto* vendor = new (std::nothrow) NPC_S_NXTP_VENDOR_DATA{entry->dwVendorId, module, entry};
  if (!vendor) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_AddVendorAndInit malloc fail.", 2);
    return 0;
  }
  if (!module->NPC_F_PVM_InitDevProtocolModule(static_cast<int>(entry->dwVendorId), &NPC_F_NXTP_MC_PVM_EventCallback,
                                               bus)) {
    NPC_F_LOG_SR_WriteLog("NPC_F_NXTP_MC_AddVendorAndInit NPC_F_PVM_InitDevProtocolModule fail.", 2);
    delete vendor;
    return 0;
  }
  bus->pVendorTable[bus->iVendorNum++] = vendor;
  return 1;
}

// Uninitialises and destroys one registered module and frees its record.
void NPC_F_NXTP_MC_DeleteVendorData(NPC_H_NXTP_MC, NPC_S_NXTP_VENDOR_DATA* vendor) {
  if (!vendor) return;
  if (vendor->pVendorProtObj) {
    vendor->pVendorProtObj->NPC_F_PVM_UninitDevProtocolModule();
    if (vendor->pEntry && vendor->pEntry->pfnDestroy) vendor->pEntry->pfnDestroy(vendor->pVendorProtObj);
  }
  delete vendor;
}

// Releases every registered module in table order (the work thread has ended).
void NPC_F_NXTP_MC_UninitVendorModule(NPC_H_NXTP_MC bus) {
  for (int i = 0; i < bus->iVendorNum; ++i) {
    NPC_F_NXTP_MC_DeleteVendorData(bus, bus->pVendorTable[i]);
    bus->pVendorTable[i] = nullptr;
  }
  bus->iVendorNum = 0;
}

NPC_S_NXTP_VENDOR_DATA* NPC_F_NXTP_MC_QueryVendorDataByVendorId(NPC_H_NXTP_MC bus, uint32_t vendorId) {
  for (int i = 0; i < bus->iVendorNum; ++i) {
    NPC_S_NXTP_VENDOR_DATA* v = bus->pVendorTable[i];
    if (v && v->dwVendorId == vendorId) return v;
  }
  return nullptr;
}
