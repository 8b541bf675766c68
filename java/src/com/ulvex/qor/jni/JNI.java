package com.ulvex.qor.jni;

/**
 * The QOR API for Java: values and files encrypted under centrally managed
 * policies. Every method is a thin native call into libqorapi.
 *
 * <p>Texts cross the boundary as raw bytes, never as Java strings. Inputs are
 * copied and zero-terminated by the binding; outputs are written from index 0
 * into arrays the caller supplies (an output array may be null, then that
 * output is skipped). An output array too short for its result makes the
 * method throw {@link ArrayIndexOutOfBoundsException}. A return value of -2
 * means the binding itself failed: a required array was null, an input could
 * not be copied, or native memory ran out.
 *
 * <p>The library is loaded when the class is first used: from the path in the
 * system property {@code com.ulvex.qor.library} when set, else by name
 * ({@code qorapi}, found on {@code java.library.path}).
 */
public class JNI {
  static {
    String path = System.getProperty("com.ulvex.qor.library");
    if (path != null && !path.isEmpty()) {
      System.load(path);
    } else {
      System.loadLibrary("qorapi");
    }
  }

  // ---- Settings: environment values read when the library initialises. ----
  // Each returns 1 when set, 0 when the environment refused it, -2 when the
  // bytes could not be copied. Make them before the first value call.

  /** Sets the agent home (QOR_HOME) to the first {@code length} bytes. */
  public static native int setHome(byte[] value, int length);

  /** Sets the first agent's port (QOR_FIRST_PORT), decimal text. */
  public static native int setFirstPort(byte[] value, int length);

  /** Sets the second agent's port (QOR_SECOND_PORT), decimal text. */
  public static native int setSecondPort(byte[] value, int length);

  /** Sets the log level to DEBUG, whatever the bytes say. */
  public static native int setLogLevel(byte[] value, int length);

  /**
   * Sets the crypto mode value (QOR_BMT) and initialises the library: 1
   * initialised, -1 not set or initialisation failed, -2 as above.
   */
  public static native int setBMT(byte[] value, int length);

  /** Sets the host kind (process level) of the library; returns 0. */
  public static native int setFilter(int level);

  // ---- Values. ----
  // Result: the length written into out (0 or more), or the library's
  // negative result: -1 failed (see getLastErrorMsg), -2 no value produced,
  // -3 an empty value decrypted under a policy without null processing.
  // With useIdentities 1 all three identities are required (else -2); each
  // is its bytes up to the first zero byte, or the whole array.

  /** Encrypts dataLength bytes into the text form; a negative length is a null value. */
  public static native int encryptStr(byte[] keyName, int keyNameLength, byte[] data,
      int dataLength, byte[] out, int useIdentities, byte[] identityA, byte[] identityB,
      byte[] identityC);

  /** Decrypts a value in the text form. */
  public static native int decryptStr(byte[] keyName, int keyNameLength, byte[] data,
      int dataLength, byte[] out, int useIdentities, byte[] identityA, byte[] identityB,
      byte[] identityC);

  /** Encrypts dataLength bytes into the binary form. */
  public static native int encryptBin(byte[] keyName, int keyNameLength, byte[] data,
      int dataLength, byte[] out, int useIdentities, byte[] identityA, byte[] identityB,
      byte[] identityC);

  /** Decrypts a value in the binary form. */
  public static native int decryptBin(byte[] keyName, int keyNameLength, byte[] data,
      int dataLength, byte[] out, int useIdentities, byte[] identityA, byte[] identityB,
      byte[] identityC);

  // ---- Files. ----
  // Result: 0 success, else the failure code. timeOut and reservedOut are
  // required (else -2). On failure tagOut receives the three- or four-letter
  // tag and messageOut the message (each followed by a zero byte when the
  // array has room). Encryption runs in a child process: only its result
  // code comes back (time 0, no address, flags 0).

  /** Encrypts sourcePath into targetPath (the same path: in place). */
  public static native int encryptFile(byte[] keyName, byte[] sourcePath, byte[] targetPath,
      byte[] tagOut, byte[] messageOut, long[] timeOut, byte[] addressOut, int[] reservedOut,
      int[] ciphertextVerifiedOut, int[] plaintextVerifiedOut, int useIdentities,
      byte[] identityA, byte[] identityB, byte[] identityC);

  /** Decrypts sourcePath into targetPath; timeOut[0] is the header's time in seconds. */
  public static native int decryptFile(byte[] keyName, byte[] sourcePath, byte[] targetPath,
      byte[] tagOut, byte[] messageOut, long[] timeOut, byte[] addressOut, int[] reservedOut,
      int[] ciphertextVerifiedOut, int[] plaintextVerifiedOut, int useIdentities,
      byte[] identityA, byte[] identityB, byte[] identityC);

  // ---- Queries. ----

  /** 0 when there is no error message; else its length, the text copied into out. */
  public static native int getLastErrorMsg(byte[] out);

  /** The length of the report for command ("all", "show-conf", ...), copied into out. */
  public static native int checkAgent(byte[] command, byte[] out);

  /** Loaded policy names joined by ":" into out (at most 2048 bytes); returns the length. */
  public static native int loadKeyName(byte[] out);

  /** 1 when the first agent answers, else 0. */
  public static native int checkHealthAgent();

  /** 1 when the key server answers through the agent, else 0. */
  public static native int checkHealthServer();

  /** Not supported: -1 with error 7011. */
  public static native int checkHealthServer(int option);

  /** 1 when the agent's policy set equals the loaded one, else 0. */
  public static native int checkPolicy();

  /** 1 when the loaded key set holds the policy, 0 when not, -2 as above. */
  public static native int existPolicy(byte[] name, int length);

  /** 1 when the library's self test passes, else 0. */
  public static native int checkCryptoModule();

  /** Initialises (again): 1 success, else 0. */
  public static native int init();

  /** 1 when the library is initialised, else 0. */
  public static native int isInit();

  /** The length of the last initialisation's result text, copied into out. */
  public static native int initResult(byte[] out);
}
