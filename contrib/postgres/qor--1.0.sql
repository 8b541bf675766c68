-- qor extension: SQL functions over the QOR API library.
\echo Use "CREATE EXTENSION qor" to load this file. \quit

-- Encryption and decryption are volatile: they depend on the key set the
-- agent serves, on the time of day (access rules), and may write audit lines.
-- They are called on NULL input because the policy decides what a null
-- value becomes. Parallel workers see the leader's identities, so all of them
-- are parallel safe.

CREATE FUNCTION qor_encrypt(policy text, value text) RETURNS text
  AS 'MODULE_PATHNAME', 'qor_encrypt_text'
  LANGUAGE C VOLATILE CALLED ON NULL INPUT PARALLEL SAFE;

CREATE FUNCTION qor_encrypt(policy text, value bytea) RETURNS bytea
  AS 'MODULE_PATHNAME', 'qor_encrypt_bytea'
  LANGUAGE C VOLATILE CALLED ON NULL INPUT PARALLEL SAFE;

CREATE FUNCTION qor_decrypt(policy text, value text) RETURNS text
  AS 'MODULE_PATHNAME', 'qor_decrypt_text'
  LANGUAGE C VOLATILE CALLED ON NULL INPUT PARALLEL SAFE;

CREATE FUNCTION qor_decrypt(policy text, value bytea) RETURNS bytea
  AS 'MODULE_PATHNAME', 'qor_decrypt_bytea'
  LANGUAGE C VOLATILE CALLED ON NULL INPUT PARALLEL SAFE;

-- Decrypts and encrypts again, so the value ends up under the policy's
-- newest key version: UPDATE t SET c = qor_rewrap('P', c).
CREATE FUNCTION qor_rewrap(policy text, value text) RETURNS text
  AS 'MODULE_PATHNAME', 'qor_rewrap_text'
  LANGUAGE C VOLATILE CALLED ON NULL INPUT PARALLEL SAFE;

CREATE FUNCTION qor_rewrap(policy text, value bytea) RETURNS bytea
  AS 'MODULE_PATHNAME', 'qor_rewrap_bytea'
  LANGUAGE C VOLATILE CALLED ON NULL INPUT PARALLEL SAFE;

-- Key version an encrypted value carries; NULL when it carries none.
CREATE FUNCTION qor_key_version(value text) RETURNS integer
  AS 'MODULE_PATHNAME', 'qor_key_version_text'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;

CREATE FUNCTION qor_key_version(value bytea) RETURNS integer
  AS 'MODULE_PATHNAME', 'qor_key_version_bytea'
  LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE;
