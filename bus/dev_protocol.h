// The interface every device protocol module implements, and the callback through which a
// module hands messages to the protocol bus engine. A module never owns a socket: it receives
// network messages and orders through this interface and answers through the callback.
#ifndef KORVEN_BUS_DEV_PROTOCOL_H
#define KORVEN_BUS_DEV_PROTOCOL_H

// The module callback: eventKind NPC_D_PVM_EVENT_TYPE_NET_DATA (0) hands a network message to
// the engine, NPC_D_PVM_EVENT_TYPE_ORDER_DATA (1) an order message (a response or a
// notification) upward; vendorId is the module's own. The engine copies the message before the
// call returns, so the module may reuse or free its buffer at once.
typedef void (*NPC_F_PVM_EVENT_CALLBACK)(void* user, int eventKind, unsigned int vendorId, unsigned char* msg, int len);

// The five operations, in this slot order. There is deliberately no virtual destructor: the
// engine destroys a module through its concrete class (picked by vendor id) after calling
// NPC_F_PVM_UninitDevProtocolModule, so the destructor here is protected and never reached
// through the interface. Module classes are declared final, which makes that delete through the
// concrete class well-defined (and keeps -Wdelete-non-virtual-dtor quiet).
//
// The engine calls operations 2 to 5 from its work thread only and never concurrently; it does
// not inspect the results of operations 3 to 5.
class NPC_I_PVM_DevProtocol {
 public:
  // Stores the vendor id, the callback and its user data and allocates the working buffers; no
  // network activity. Non-zero on success, 0 when an allocation fails.
  virtual int NPC_F_PVM_InitDevProtocolModule(int vendorId, NPC_F_PVM_EVENT_CALLBACK callback, void* user) = 0;
  // Releases every device, camera and pending order and stops any timer service of the module's
  // own. No callback follows its return.
  virtual void NPC_F_PVM_UninitDevProtocolModule() = 0;
  // One network message from the engine; codes the module does not handle are ignored.
  virtual int NPC_F_PVM_InputNetData(unsigned char* msg, int len) = 0;
  // One order from above; answered through the callback (event kind 1) at once or when the
  // device has answered. An unknown order code is dropped without an answer.
  virtual int NPC_F_PVM_InputUpOrderData(unsigned char* msg, int len) = 0;
  // Called on every pass of the engine's loop; the module keeps its own time by wall-clock seconds.
  virtual int NPC_F_PVM_Timer() = 0;

 protected:
  NPC_I_PVM_DevProtocol() = default;
  NPC_I_PVM_DevProtocol(const NPC_I_PVM_DevProtocol&) = default;
  NPC_I_PVM_DevProtocol& operator=(const NPC_I_PVM_DevProtocol&) = default;
  ~NPC_I_PVM_DevProtocol() = default;
};

#endif
