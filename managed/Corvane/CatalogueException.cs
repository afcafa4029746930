using System;

namespace Corvane
{
    /// <summary>
    /// A Tarnwick call refused: carries the status code and the library's fixed text for it,
    /// e.g. -107 and "error: parse boot" for a volume that is not NTFS.
    /// </summary>
    [Serializable]
    public sealed class CatalogueException : Exception
    {
        /// <summary>Creates the exception for <paramref name="status"/>, whose text is read from the library.</summary>
        public CatalogueException(int status)
            : this(status, MftClass.GetMftMessage(status))
        {
        }

        private CatalogueException(int status, string statusText)
            : base($"{statusText} ({status})")
        {
            Status = status;
            StatusText = statusText;
        }

        /// <summary>The status code Tarnwick returned (see <see cref="MftClass.GetMftMessage"/>).</summary>
        public int Status { get; }

        /// <summary>The library's text for <see cref="Status"/>, such as "error: drive type".</summary>
        public string StatusText { get; }
    }
}
