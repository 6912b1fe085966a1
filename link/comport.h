#pragma once
// The COM link as the protocol sees it: a serial component (the window's Comm1, the tool's port)
// behind the protocol's port interface, which hands its receptions to whoever took them.

#include "protocol/transport.h"

#include <memory>

class TComm;

std::unique_ptr<ISerialPort> MakeCommPort(TComm& comm);
