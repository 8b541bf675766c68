package com.ulvex.qor.jni;

/** The policy set the agent serves to the binding tests. */
final class Policies {
  private Policies() {}

  static final String[] NAMES = {"ARIA_256", "AES_128", "SEED_RECORD", "NULLS", "GUARDED",
      "FILES"};

  private static String key(int bytes, int seed) {
    StringBuilder hex = new StringBuilder();
    int state = seed * 7919 + 17;
    for (int i = 0; i < bytes; ++i) {
      state = state * 1103515245 + 12345;
      hex.append(String.format("%02x", (state >>> 16) & 0xFF));
    }
    return hex.toString();
  }

  private static String version(int version, int bytes, int seed) {
    return "{\"version\": " + version + ", \"key\": \"" + key(bytes, seed * 100 + version)
        + "\", \"validFrom\": \"2024010100Z\", \"validTo\": \"2099123100Z\"}";
  }

  static String json() {
    return "{\"policies\": [\n"
        + "{\"name\": \"ARIA_256\", \"algorithm\": \"ARIA\", \"keyLength\": 256, \"keys\": ["
        + version(2, 32, 1) + ", " + version(1, 32, 1) + "]},\n"
        + "{\"name\": \"AES_128\", \"algorithm\": \"AES\", \"keyLength\": 128, \"keys\": ["
        + version(1, 16, 2) + "]},\n"
        + "{\"name\": \"SEED_RECORD\", \"algorithm\": \"SEED\", \"keyLength\": 128,"
        + " \"ivType\": \"RECORD\", \"keys\": [" + version(1, 16, 3) + "]},\n"
        + "{\"name\": \"NULLS\", \"algorithm\": \"ARIA\", \"keyLength\": 128,"
        + " \"nullProcessing\": true, \"keys\": [" + version(1, 16, 4) + "]},\n"
        + "{\"name\": \"GUARDED\", \"algorithm\": \"AES\", \"keyLength\": 256,"
        + " \"accessRules\": [{\"identity1\": [\"alice\"]}], \"keys\": ["
        + version(1, 32, 5) + "]},\n"
        + "{\"name\": \"FILES\", \"algorithm\": \"ARIA\", \"keyLength\": 256,"
        + " \"file\": {\"verifyEncrypted\": true, \"verifyOriginal\": true}, \"keys\": ["
        + version(3, 32, 6) + "]}\n"
        + "]}\n";
  }
}
