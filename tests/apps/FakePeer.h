#pragma once

// A client of the JSON-RPC server in process: it keeps what it is sent.

#include <memory>
#include <string>
#include <vector>

#include "RpcServer.h"

struct FakePeer : orvel::Peer {
  explicit FakePeer(std::string id) : id(std::move(id)) {}
  void Send(const std::shared_ptr<const std::string>& message) override { sent.push_back(*message); }
  void Finished() override { ++finished; }
  const std::string& ClientId() const override { return id; }
  OVK::ChannelId Channel() const override { return OVK::ChannelId(77); }
  std::string id;
  std::vector<std::string> sent;
  int finished = 0;
};
