// The small directory the LDAP tests load into their slapd: the people ann and jose, and the
// password holder "cn=ann@example.org,ou=people,dc=example,dc=org" / "annpw".
#pragma once

inline constexpr char kLdapTestDirectory[] =
    "dn: dc=example,dc=org\n"
    "objectClass: dcObject\nobjectClass: organization\ndc: example\no: Example\n\n"
    "dn: ou=people,dc=example,dc=org\nobjectClass: organizationalUnit\nou: people\n\n"
    "dn: uid=ann,ou=people,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: ann\n"
    "cn: Ann Smith\ncn: Annie\nsn: Smith\njpegPhoto:: AAEC/w==\n\n"
    // cn is "José" in UTF-8.
    "dn: uid=jose,ou=people,dc=example,dc=org\nobjectClass: inetOrgPerson\nuid: jose\n"
    "cn:: Sm9zw6k=\nsn: Garcia\n\n"
    // slapd takes only DNs as simple-bind names: this one reads as user@domain.
    "dn: cn=ann@example.org,ou=people,dc=example,dc=org\nobjectClass: person\n"
    "cn: ann@example.org\nsn: Smith\nuserPassword: annpw\n";
