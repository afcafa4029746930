using System;

namespace Corvane
{
    /// <summary>
    /// Managed access to Tarnwick's catalogue: <see cref="LoadMft"/> loads a drive's catalogue,
    /// <see cref="GetMft"/> copies it into an array of <see cref="ResultRecord"/> and releases it,
    /// <see cref="GetMftMessage"/> turns any status code into its text.
    /// </summary>
    /// <remarks>
    /// The native catalogue is process-wide and unsynchronised: callers serialise every
    /// <see cref="LoadMft"/>/<see cref="GetMft"/> sequence. Failures are status codes, never exceptions,
    /// except in a 32-bit process, where every call throws <see cref="PlatformNotSupportedException"/>.
    /// <see cref="Catalogue"/> offers the same catalogue as an <see cref="IDisposable"/> object.
    /// </remarks>
    public class MftClass
    {
        /// <summary>Status for a result array whose length is not the loaded catalogue's count ("error: error").</summary>
        private const int LengthMismatch = -1;

        /// <summary>Status Tarnwick gives when it holds no catalogue ("error: size").</summary>
        private const int NothingLoaded = -100;

        // Tarnwick has no way to ask how many entries it holds, and GetPointer writes one pointer
        // per entry whatever the array's size, so the wrapper remembers the count of its last
        // successful load in order to refuse an array that GetPointer would overrun. Internal so
        // the tests can forget it after releasing the catalogue behind the wrapper's back.
        internal static ulong loadedCount;

        /// <summary>Creates an instance; all operations are static and need none.</summary>
        public MftClass()
        {
        }

        /// <summary>
        /// Loads the catalogue of drive <paramref name="drive"/> (0 is A:, 2 is C:). On 0,
        /// <paramref name="count"/> holds the number of entries; on failure it is left as it was.
        /// </summary>
        /// <returns>Tarnwick's status, unchanged.</returns>
        [CLSCompliant(false)]
        public static unsafe int LoadMft(uint drive, ref ulong count)
        {
            NativeMethods.RequireSupportedProcess();
            int status;
            fixed (ulong* countAddress = &count)
            {
                status = NativeMethods.LoadMft(drive, countAddress);
            }

            if (status == 0)
            {
                loadedCount = count;
            }

            return status;
        }

        /// <summary>
        /// Copies every entry of the loaded catalogue into <paramref name="resultRecord"/>, which
        /// must have exactly as many elements as the count <see cref="LoadMft"/> reported, then
        /// releases the catalogue.
        /// </summary>
        /// <returns>
        /// 0 once the copy is complete and the catalogue released; -1 ("error: error") for an empty
        /// array or one whose length differs from the loaded count, leaving the catalogue loaded;
        /// -100 ("error: size") when no catalogue is loaded, leaving the array untouched.
        /// </returns>
        public static unsafe int GetMft(ResultRecord[] resultRecord)
        {
            int length = resultRecord.Length;
            NativeMethods.RequireSupportedProcess();
            if (length == 0)
            {
                return LengthMismatch;
            }

            if (loadedCount == 0)
            {
                // Nothing was loaded through the wrapper, or the last load was already handed out:
                // the answer GetPointer would give, without risking a write past the array.
                return NothingLoaded;
            }

            if ((ulong)length != loadedCount)
            {
                return LengthMismatch;
            }

            ResultRecord_Internal*[] entries = new ResultRecord_Internal*[length];
            fixed (ResultRecord_Internal** first = entries)
            {
                int status = NativeMethods.GetPointer(first);
                if (status != 0)
                {
                    // The catalogue was released behind the wrapper's back; nothing to copy or free.
                    loadedCount = 0;
                    return status;
                }

                for (int i = 0; i < length; i++)
                {
                    EntryReader.Read((byte*)first[i], ref resultRecord[i]);
                }
            }

            loadedCount = 0;
            return NativeMethods.Clear();
        }

        /// <summary>The fixed text of any status code, e.g. "info: success" for 0 and "error: other" for unknown codes.</summary>
        public static unsafe string GetMftMessage(int code)
        {
            NativeMethods.RequireSupportedProcess();
            return new string((char*)NativeMethods.GetMftMessage(code));
        }
    }
}
