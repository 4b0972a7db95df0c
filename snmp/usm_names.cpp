#include "snmp/usm_names.hpp"

#include <boost/algorithm/string/predicate.hpp>
#include <stdexcept>
#include <utility>

#include "snmp/netsnmp/library.hpp"

namespace tamro::snmp {
namespace {

template <class Value, std::size_t N>
Value parse(const std::pair<Value, const char*> (&names)[N], const std::string& text) {
  for (const auto& entry : names) {
    if (boost::algorithm::iequals(text, entry.second)) return entry.first;
  }
  std::string accepted;
  for (const auto& entry : names)
    accepted += (accepted.empty() ? "" : ", ") + std::string(entry.second);
  throw std::invalid_argument("\"" + text + "\" is not one of " + accepted);
}

template <class Value, std::size_t N>
const char* name(const std::pair<Value, const char*> (&names)[N], Value value) {
  for (const auto& entry : names) {
    if (entry.first == value) return entry.second;
  }
  return "";
}

const std::pair<security_level, const char*> level_names[] = {
    {security_level::no_auth_no_priv, "noAuthNoPriv"},
    {security_level::auth_no_priv, "authNoPriv"},
    {security_level::auth_priv, "authPriv"}};

const std::pair<auth_protocol, const char*> auth_names[] = {
    {auth_protocol::md5, "MD5"},        {auth_protocol::sha, "SHA"},
    {auth_protocol::sha224, "SHA-224"}, {auth_protocol::sha256, "SHA-256"},
    {auth_protocol::sha384, "SHA-384"}, {auth_protocol::sha512, "SHA-512"}};

// The first name of a protocol is the one written.
const std::pair<privacy_protocol, const char*> privacy_names[] = {
    {privacy_protocol::des, "DES"},
    {privacy_protocol::aes, "AES"},
    {privacy_protocol::aes192, "AES-192"},
    {privacy_protocol::aes256, "AES-256"},
    {privacy_protocol::aes192_cisco, "AES-192-C"},
    {privacy_protocol::aes256_cisco, "AES-256-C"},
    {privacy_protocol::aes192_cisco, "AES192C"},
    {privacy_protocol::aes256_cisco, "AES256C"}};

}  // namespace

security_level parse_security_level(const std::string& text) { return parse(level_names, text); }
auth_protocol parse_auth_protocol(const std::string& text) {
  const auth_protocol protocol = parse(auth_names, text);
#ifdef NETSNMP_DISABLE_MD5
  if (protocol == auth_protocol::md5) throw std::invalid_argument("MD5 is not supported here");
#endif
  return protocol;
}

privacy_protocol parse_privacy_protocol(const std::string& text) {
  const privacy_protocol protocol = parse(privacy_names, text);
#ifdef NETSNMP_DISABLE_DES
  if (protocol == privacy_protocol::des) throw std::invalid_argument("DES is not supported here");
#endif
#ifndef HAVE_AES
  if (protocol != privacy_protocol::des) {
    throw std::invalid_argument(std::string(name_of(protocol)) + " is not supported here");
  }
#endif
  return protocol;
}

const char* name_of(security_level level) { return name(level_names, level); }
const char* name_of(auth_protocol protocol) { return name(auth_names, protocol); }
const char* name_of(privacy_protocol protocol) { return name(privacy_names, protocol); }

}  // namespace tamro::snmp
