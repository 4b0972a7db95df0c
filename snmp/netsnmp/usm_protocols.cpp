#include "snmp/netsnmp/usm_protocols.hpp"

namespace tamro::netsnmp {

protocol_oid oid_of(snmp::auth_protocol protocol) {
  switch (protocol) {
    case snmp::auth_protocol::md5:
      return {usmHMACMD5AuthProtocol, OID_LENGTH(usmHMACMD5AuthProtocol)};
    case snmp::auth_protocol::sha224:
      return {usmHMAC128SHA224AuthProtocol, OID_LENGTH(usmHMAC128SHA224AuthProtocol)};
    case snmp::auth_protocol::sha256:
      return {usmHMAC192SHA256AuthProtocol, OID_LENGTH(usmHMAC192SHA256AuthProtocol)};
    case snmp::auth_protocol::sha384:
      return {usmHMAC256SHA384AuthProtocol, OID_LENGTH(usmHMAC256SHA384AuthProtocol)};
    case snmp::auth_protocol::sha512:
      return {usmHMAC384SHA512AuthProtocol, OID_LENGTH(usmHMAC384SHA512AuthProtocol)};
    case snmp::auth_protocol::sha:
      break;
  }
  return {usmHMACSHA1AuthProtocol, OID_LENGTH(usmHMACSHA1AuthProtocol)};
}

protocol_oid oid_of(snmp::privacy_protocol protocol) {
  switch (protocol) {
    case snmp::privacy_protocol::des:
      return {usmDESPrivProtocol, OID_LENGTH(usmDESPrivProtocol)};
    case snmp::privacy_protocol::aes192:
      return {usmAES192PrivProtocol, OID_LENGTH(usmAES192PrivProtocol)};
    case snmp::privacy_protocol::aes256:
      return {usmAES256PrivProtocol, OID_LENGTH(usmAES256PrivProtocol)};
    case snmp::privacy_protocol::aes192_cisco:
      return {usmAES192CiscoPrivProtocol, OID_LENGTH(usmAES192CiscoPrivProtocol)};
    case snmp::privacy_protocol::aes256_cisco:
      return {usmAES256CiscoPrivProtocol, OID_LENGTH(usmAES256CiscoPrivProtocol)};
    case snmp::privacy_protocol::aes:
      break;
  }
  return {usmAESPrivProtocol, OID_LENGTH(usmAESPrivProtocol)};
}

}  // namespace tamro::netsnmp
